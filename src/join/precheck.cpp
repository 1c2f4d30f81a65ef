#include "join/precheck.h"

#include "analysis/job_sink.h"
#include "analysis/scan.h"
#include "analysis/scan_control.h"

namespace mpg {

namespace {

// The check's progress over all pieces: piece `k` of `n` at `percent` of
// its own scan.
Notice pieceProgress(size_t k, size_t n, int32_t percent) {
    const int64_t whole = (static_cast<int64_t>(k) * 100 + percent) / static_cast<int64_t>(n);
    return {Notify::PieceCheck, static_cast<int32_t>(whole), k + 1, n, {}};
}

// The scan's notices stay inside the check: the rows it finds are not the
// repair page's, and its progress is that of one piece, which goes on to
// the check's own receiver, if any, as a share of the whole check. A stop
// request of the join's job reaches the scan's own job at the scan's
// progress steps.
class PieceSink : public JobSink {
  public:
    PieceSink(JobState& join, JobState& scan, JobSink* outer, size_t piece, size_t pieces)
        : join_(join), scan_(scan), outer_(outer), piece_(piece), pieces_(pieces) {}
    void notify(const Notice& notice) override {
        if (outer_ != nullptr && notice.kind == Notify::Progress)
            outer_->notify(pieceProgress(piece_, pieces_, notice.payload));
    }
    void reportCheck(CheckResult) override {}
    void clearErrorList() override {}

  protected:
    // Every step of the scan looks at the stop request; its progress goes
    // out as often as the check's receiver takes it.
    bool refreshProgress() override {
        countdown_ = 1;
        if (join_.stopRequested.load(std::memory_order_relaxed)) scan_.stopRequested = true;
        return outer_ == nullptr || outer_->progressDue();
    }

  private:
    JobState& join_;
    JobState& scan_;
    JobSink* outer_;
    size_t piece_, pieces_;
};

}  // namespace

std::vector<PieceCheck> checkPieces(JobState& job, const std::vector<std::string>& inputs,
                                    StreamRules rules, JobSink* progress) {
    std::vector<PieceCheck> found;
    for (size_t k = 0; k < inputs.size(); ++k) {
        if (job.stopRequested.load(std::memory_order_relaxed)) break;
        if (progress != nullptr) progress->notify(pieceProgress(k, inputs.size(), 0));
        AppState scratch;
        scratch.rules.store(rules);
        PieceCheck check{k, inputs[k], 0, 0, {}};
        PieceSink quiet(job, scratch.job, progress, k, inputs.size());
        const OpenCheck open = openAndCheck(scratch, inputs[k]);
        const CheckResult opened = open.result;
        if (open.failed()) {
            check.failure = open.failure;
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
