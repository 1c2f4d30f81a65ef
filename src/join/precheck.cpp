#include "join/precheck.h"

#include "analysis/job_sink.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"

namespace mpg {

namespace {

// The scan's notices stay inside the check: the rows it finds are not the
// repair page's, and its progress is that of one piece. A stop request of
// the join's job reaches the scan's own job through the progress reports.
class PieceSink : public JobSink {
  public:
    PieceSink(JobState& join, JobState& scan) : join_(join), scan_(scan) {}
    void notify(const Notice&) override {
        if (join_.stopRequested.load(std::memory_order_relaxed)) scan_.stopRequested = true;
    }
    void reportCheck(CheckResult) override {}
    void clearErrorList() override {}

  private:
    JobState& join_;
    JobState& scan_;
};

}  // namespace

std::vector<PieceCheck> checkPieces(JobState& job, const std::vector<std::string>& inputs,
                                    StreamRules rules) {
    std::vector<PieceCheck> found;
    for (size_t k = 0; k < inputs.size(); ++k) {
        if (job.stopRequested.load(std::memory_order_relaxed)) break;
        AppState scratch;
        scratch.rules.store(rules);
        PieceCheck check{k, inputs[k], 0, 0, {}};
        PieceSink quiet(job, scratch.job);
        const CheckResult opened = openAndCheck(scratch, inputs[k]);
        if (opened == CheckResult::OpenFailed || opened == CheckResult::ReadFailed ||
            opened == CheckResult::NotRegular) {
            check.failure = scratch.view.failure();
        } else {
            check.failure = scanFileAfresh(scratch, inputs[k], quiet);
        }
        if (job.stopRequested.load(std::memory_order_relaxed)) break;
        check.blocks = scratch.table.size();
        for (size_t i = 0; i < scratch.table.size(); ++i)
            check.broken += scratch.table[i].isBroken();
        // No stream signature: nothing in the piece would join.
        if (!check.failure && opened != CheckResult::Ok && check.blocks == 0) check.broken = 1;
        if (check.failure || check.broken > 0) found.push_back(std::move(check));
    }
    return found;
}

}  // namespace mpg
