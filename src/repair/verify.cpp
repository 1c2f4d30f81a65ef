#include "repair/verify.h"

#include "analysis/scan.h"
#include "analysis/scan_control.h"

namespace mpg {

OutputCheck checkWrittenStream(AppState& scratch, const std::string& path, JobSink& sink) {
    OutputCheck check;
    const OpenCheck open = openAndCheck(scratch, path);
    const CheckResult opened = open.result;
    if (open.failed()) {
        check.failure = open.failure;
        return check;
    }
    if (opened == CheckResult::Ok) check.failure = scanFileAfresh(scratch, path, sink);
    if (check.failure) return check;
    check.stopped = scratch.job.stopRequested.load();
    const BlockTable& table = scratch.table;
    check.blocks = table.size();
    for (size_t i = 0; i < table.size(); ++i) {
        if (!table[i].isBroken()) continue;
        ++check.broken;
        if (check.brokenAt.size() < OutputCheck::kShown) check.brokenAt.push_back(table[i].offset);
    }
    // A file without the signature a stream begins with counts as one
    // broken block: nothing in it would play.
    if (opened != CheckResult::Ok && check.blocks == 0) {
        check.broken = 1;
        check.brokenAt.push_back(0);
    }
    return check;
}

}  // namespace mpg
