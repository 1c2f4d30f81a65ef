#include "repair/auto_repair.h"

namespace mpg {

RepairSummary summarize(const std::vector<BlockRepair>& repairs) {
    RepairSummary s;
    s.blocks = repairs.size();
    for (const BlockRepair& r : repairs) {
        switch (r.certainty) {
            case RepairCertainty::Exact:
                ++s.exact;
                break;
            case RepairCertainty::Probable:
                ++s.decodable;
                break;
            case RepairCertainty::Unresolved:
                ++s.unresolved;
                break;
        }
    }
    return s;
}

StrategyOutcome repairAutomatically(AppState& state, const std::vector<size_t>& listed,
                                    const std::string& inputPath, RepairProgress& progress) {
    (void)state;
    (void)inputPath;
    (void)progress;
    StrategyOutcome outcome;
    for (size_t index : listed) {
        BlockRepair r;
        r.index = index;
        outcome.repairs.push_back(r);
    }
    return outcome;
}

}  // namespace mpg
