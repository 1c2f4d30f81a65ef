#include "repair/verify.h"

#include <algorithm>
#include <cstddef>

#include "analysis/scan.h"
#include "analysis/scan_control.h"

namespace mpg {

size_t OutputCheck::findingCount() const {
    size_t count = 0;
    for (size_t n : findingsByKind) count += n;
    return count;
}

OutputCheck checkWrittenStream(AppState& scratch, const std::string& path, JobSink& sink) {
    OutputCheck check;
    const OpenCheck open = openAndCheck(scratch, path);
    const CheckResult opened = open.result;
    if (open.failed()) {
        check.failure = open.failure;
        return check;
    }
    // The check needs the counts and the first broken blocks, not a second
    // table as long as the repair's: the scan's entries are counted as the
    // table passes them on.
    const auto count = [&check](const BlockRecord& entry) {
        ++check.blocks;
        if (!entry.isBroken()) return;
        ++check.broken;
        if (check.brokenAt.size() < OutputCheck::kShown) check.brokenAt.push_back(entry.offset);
    };
    scratch.table.keepNewestOnly(count);
    if (opened == CheckResult::Ok) check.failure = scanFileAfresh(scratch, path, sink);
    if (check.failure) return check;
    check.stopped = scratch.job.stopRequested.load();
    const BlockTable& table = scratch.table;
    for (size_t i = table.firstKept(); i < table.size(); ++i) count(table[i]);
    scratch.table.clear();
    check.findingsByKind = scratch.findings.countByKind();
    const std::vector<Finding>& found = scratch.findings.items();
    check.findings.assign(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                             found.size(), OutputCheck::kShown)));
    scratch.findings.clear();
    // A file without the signature a stream begins with counts as one
    // broken block: nothing in it would play.
    if (opened != CheckResult::Ok && check.blocks == 0) {
        check.broken = 1;
        check.brokenAt.push_back(0);
    }
    return check;
}

}  // namespace mpg
