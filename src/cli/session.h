// What the commands of mpgmend-cli share: the job's state and error list, the
// named stream, and the steps every command takes the way the window does.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/scan_control.h"
#include "repair/strategies.h"

namespace mpg::cli {

struct Session {
    AppState state;
    std::string path;
    bool quiet = false;
    // Whether the automatic repair ran, and its account of every block it
    // was given: ascending index, the last account of a block kept when it
    // was given again.
    bool automatic = false;
    std::vector<BlockRepair> repairs;
    // Its counts alone, when no account was asked for (no report, plan or
    // check): a file of millions of broken blocks keeps no account of each.
    RepairSummary counted;
};

// Ctrl-C from now on sets `flag`: the running job stops the way the
// window's stop does. The flag must outlive the next call.
void stopOnInterrupt(std::atomic<bool>& flag);

// The size of a named file, 0 when it has none; for the progress line's rate.
uint64_t fileSize(const std::string& path);

// The open check's result, with why the file could not be opened or read.
void sayCheck(const Session& s, CheckResult check);

// The open check, then a fresh scan at high priority; false (reported) when
// the file is refused, cannot be read, changed meanwhile, or the scan was
// stopped.
bool checkAndScan(Session& s);

// One press of the hammer per strategy (eq, rescan, sizes or auto), as the
// window does; the automatic repair's accounts are kept in the session.
void hammer(Session& s, const std::string& strategy, const RepairOptions& options);

// Whether the output may be written: it does not exist or is no regular
// file, --force was given, or the user at a terminal says yes.
bool mayOverwrite(const std::string& output, bool force);

}  // namespace mpg::cli
