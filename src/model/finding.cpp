#include "model/finding.h"

#include <algorithm>

namespace mpg {

void FindingList::add(const Finding& finding) {
    // The last finding of the same kind, cause and stream: a few findings of
    // other streams may lie between, as packets of several streams
    // interleave.
    for (size_t k = items_.size(), looked = 0; k-- > 0 && looked < 8; ++looked) {
        Finding& last = items_[k];
        if (last.kind != finding.kind || last.cause != finding.cause ||
            last.stream != finding.stream || last.substream != finding.substream) {
            continue;
        }
        if (finding.begin < last.begin || finding.begin > last.end + kMergeDistance) break;
        last.end = std::max(last.end, finding.end);
        if (finding.timeTo != kNoTime) last.timeTo = std::max(last.timeTo, finding.timeTo);
        if (last.timeFrom == kNoTime) last.timeFrom = finding.timeFrom;
        last.frames += finding.frames;
        return;
    }
    items_.push_back(finding);
}

void FindingList::sortByPosition() {
    std::stable_sort(items_.begin(), items_.end(),
                     [](const Finding& a, const Finding& b) { return a.begin < b.begin; });
}

std::vector<size_t> FindingList::countByKind() const {
    std::vector<size_t> counts(kFindingKinds, 0);
    for (const Finding& finding : items_) ++counts[static_cast<size_t>(finding.kind)];
    return counts;
}

}  // namespace mpg
