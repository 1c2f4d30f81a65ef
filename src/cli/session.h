// What the commands of mpgmend-cli share: the repair session (the workflow
// the window runs too), the named stream, and how the command line says what
// the session's steps did.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "repair/strategies.h"
#include "session/repair_session.h"

namespace mpg::cli {

struct Session {
    RepairSession work;
    AppState& state = work.state();
    std::string path;
    bool quiet = false;
};

// Ctrl-C (SIGINT), SIGTERM and SIGHUP from now on set `flag`: the running
// job stops the way the window's stop does, and a write waiting on a reader
// that does not read is interrupted. The flag must outlive the next call.
void stopOnInterrupt(std::atomic<bool>& flag);

// The size of a named file, 0 when it has none; for the progress line's rate.
uint64_t fileSize(const std::string& path);

// The open check, then a fresh scan at high priority, and what the scan
// counted; nothing (reported) when the file is refused, cannot be read,
// changed meanwhile, or the scan was stopped.
std::optional<ScanResult> checkAndScan(Session& s);

// The open check, then the findings from the index file instead of a scan;
// false (reported) when either fails. The index of a stopped scan is refused
// unless `resume` asks for the scan to go on from its end, as it then does.
bool checkAndLoadIndex(Session& s, bool resume = false);

// One press of the hammer per strategy (eq, rescan, sizes or auto), as the
// window does; the automatic repair's accounts are kept in the session.
// False (reported) when the input failed a read or changed since the scan.
bool hammer(Session& s, const std::string& strategy, const RepairOptions& options);

// Whether the output may be written, and whether it replaces a file at its
// name: Replace when --force was given or the user at a terminal says yes
// to replacing the file there, Keep when none is there (or it is no regular
// file); nothing (told) when the user may not or will not replace it.
std::optional<Existing> overwriteChoice(const std::string& output, bool force);

}  // namespace mpg::cli
