// Several streams in one run of scan or repair: the files named, or found
// below folders, each handled as if it had been the only one, and a table
// of what came of each at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/session.h"

namespace mpg::cli {

// Whether a file's name says it holds a system stream: .mpg, .mpeg, .vob
// (a DVD's) or .dat (a video CD's), in any case.
bool isStreamName(std::string_view name);

struct Inputs {
    std::vector<std::string> files;
    // Folders whose entries could not be listed, with the system's reason:
    // failures of the run, told before the first file.
    std::vector<std::string> unreadable;
    // More than one name, or a folder: every file's texts are headed by its
    // name and the rows on standard output start with it.
    bool several = false;
};

// The files to work on, in the order named; a folder (only with
// `recursive`) stands for the stream files below it, sorted by path. Links
// are followed; a folder or file reached a second time (a link back up the
// tree, two links to one file) is taken once. A name that is neither a
// folder nor there at all stays as it is: opening it fails and says why.
// Returns why the names are refused (a folder without `recursive`), or "".
std::string gatherInputs(const std::vector<std::string>& named, bool recursive, Inputs& out);

// What came of one file.
struct FileOutcome {
    std::string file;
    // The command's exit status for this file alone: 0, 1 or 3.
    int status = 0;
    // Whether the scan (or the index) gave a table: the counts mean something.
    bool counted = false;
    uint64_t blocks = 0;
    uint64_t broken = 0;  // listed after the scan
    uint64_t fixed = 0;   // no longer listed after the repairs
    // A video CD rip, and the faulty sectors its scan found.
    bool rip = false;
    uint64_t faultySectors = 0;
    // repair: the file written; empty when none was (--skip-clean on a
    // clean stream, --dry-run, a failure).
    std::string output;
};

// The status of the whole run: 1 when any file failed, else 3 when any gave
// 3, else 0.
int overallStatus(const std::vector<FileOutcome>& outcomes);

// Runs `one` on each file in a session of its own (the shared one gives the
// options: quiet, the rules, and takes Ctrl-C between files), its texts
// headed by the file's name when there are several. Ctrl-C stops the file
// at hand and the files after it. The
// table of outcomes goes to standard error when there was more than one
// file: standard output carries rows, names or the stream itself. `repair`
// chooses the repair's columns.
int runEach(Session& shared, const Inputs& inputs, bool repair,
            const std::function<FileOutcome(Session&)>& one);

// The table of outcomes, its columns aligned, as lines. When a video CD rip
// is among the files, a column behind the broken blocks counts the faulty
// sectors ("-" for a plain stream); without one the table has no such column.
std::vector<std::string> summaryLines(const std::vector<FileOutcome>& outcomes, bool repair);

}  // namespace mpg::cli
