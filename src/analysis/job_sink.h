// How a running job reports to whoever shows it: the window (a queue it
// drains at its own pace), the command-line companion (a progress line) or a
// test (a recorder). Every report carries the values it reports: a receiver
// on another thread shows those and never reads the job's state (the table,
// the stream view), which the job goes on changing meanwhile.
#pragma once

#include <cstdint>

#include "analysis/check_result.h"
#include "model/block_table.h"
#include "stream/failure.h"

namespace mpg {

enum class Notify : int {
    Progress = 1,      // payload: percentage of the work done; done of total: where it is
    Broken = 2,        // payload: BlockTable index of a block just found broken
    Resolved = 3,      // payload: the same index, now with real size and run
    JoinProgress = 4,  // payload: percentage of the whole join; done of total: which input
    Withdrawn = 5,     // payload: index of a last entry whose row a resumed scan takes back
    RowProgress = 6,   // a repair's walk over the list: row done of rows total; 0 of 0 at its end
    PieceCheck = 7,    // payload: percentage of the pieces' check; done of total: which piece
};

// One report: its kind, its payload, and the values that go with it.
struct Notice {
    Notify kind = Notify::Progress;
    int32_t payload = 0;
    // Progress: the stream position or the blocks written, of the stream's
    // size or the blocks; JoinProgress: the input's number, from 1, of the
    // inputs; RowProgress: the row, of the rows.
    uint64_t done = 0;
    uint64_t total = 0;
    BlockRecord record;  // Broken, Resolved: a copy of the entry as it stands
};

class JobSink {
  public:
    virtual ~JobSink() = default;

    virtual void notify(const Notice& notice) = 0;
    // The scan found no stream where it was to start (NoSignature); the
    // window names it in its caption.
    virtual void reportCheck(CheckResult result) = 0;
    virtual void clearErrorList() = 0;
    // A join refused before it wrote anything, and why: an input that cannot
    // be opened, or an output that is one of the inputs. For the joining
    // page's message line.
    virtual void reportRefusal(const Failure& why) { (void)why; }

    // Asked before every progress notification. A receiver that shows at most
    // a few updates a second declines the others, and the job then does not
    // even format the text: a step on the hot path costs one decrement.
    bool progressDue() {
        if (--countdown_ > 0) return false;
        return refreshProgress();
    }
    // How many of the next asks will be declined without a look at the
    // clock, and skipping that many at once: a job that runs many quiet steps
    // in a tight loop counts them in one go.
    int32_t quietSteps() const { return countdown_ - 1; }
    void skipQuietSteps(int32_t steps) { countdown_ -= steps; }

  protected:
    // Called when the countdown runs out; sets countdown_ (at least 1) to the
    // number of further asks until the next call and says whether this one is
    // delivered. The default delivers every progress notification.
    virtual bool refreshProgress() {
        countdown_ = 1;
        return true;
    }
    int32_t countdown_ = 1;
};

}  // namespace mpg
