// The open check: is the named file an MPEG-1 system stream that starts with
// a pack header followed directly by a system header? Prepares an empty
// BlockTable and CutList and takes the stream codes from that header.
#pragma once

#include <string>

#include "analysis/app_state.h"
#include "analysis/check_result.h"
#include "stream/failure.h"

namespace mpg {

// What the open check found, and why: for OpenFailed, NotRegular and
// ReadFailed the failure names the file and the system's reason.
struct OpenCheck {
    CheckResult result = CheckResult::Ok;
    Failure failure;
    // The file could not be opened or its head could not be read.
    bool failed() const { return static_cast<bool>(failure); }
};

// Leaves the file closed on every outcome. Empties the table and the cut list
// and releases the cache once the file could be opened. The stream codes
// start from the initial ones, whatever an earlier file or join left, and
// take those of the system header.
OpenCheck openAndCheck(AppState& state, const std::string& path);

}  // namespace mpg
