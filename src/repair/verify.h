// The check of a repaired file once it is written: a scan of the output as
// the user's player will read it. A length field the repair rewrote, or a
// block it padded, scans clean whatever its payload holds, so the front
// ends name those blocks beside what this scan finds.
#pragma once

#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/job_sink.h"
#include "model/finding.h"
#include "stream/failure.h"

namespace mpg {

struct OutputCheck {
    Failure failure;  // the output could not be opened or read
    bool stopped = false;
    size_t blocks = 0;  // blocks the scan found
    size_t broken = 0;  // of them broken
    // Where the first broken blocks begin in the output (at most kShown).
    std::vector<Position> brokenAt;
    static constexpr size_t kShown = 20;
    // What the checks of the content found in the output: how many of each
    // kind (FindingKind), and the first kShown of them.
    std::vector<size_t> findingsByKind = std::vector<size_t>(kFindingKinds, 0);
    std::vector<Finding> findings;
    size_t findingCount() const;
    // Whether anything is left that the user must know of.
    bool clean() const { return broken == 0 && findingCount() == 0; }
};

// Scans the file at `path` into `scratch` (a state of its own, whose rules
// and stop flag the caller sets: the repair's table must stay as it is).
OutputCheck checkWrittenStream(AppState& scratch, const std::string& path, JobSink& sink);

}  // namespace mpg
