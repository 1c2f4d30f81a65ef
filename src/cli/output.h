// What mpgmend-cli prints: status texts with their English gloss and a
// progress line on standard error, the error list's rows or the block table
// as JSON on standard output.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/error_list.h"
#include "analysis/progress_throttle.h"
#include "repair/verify.h"
#include "session/repair_session.h"
#include "text/messages.h"

namespace mpg::cli {

// What the commands print on standard output (rows, JSON, a plan, the name
// of the file written) goes out through printOut() alone. A write that
// fails (a full disk, a closed terminal) throws OutputFailed with the
// system's reason; main() says it and exits 1: a list cut off must never
// pass for a whole one.
struct OutputFailed {
    int systemError = 0;
};
void printOut(std::string_view text);

// A text made in the language the program speaks and, behind a Russian one,
// made again in English in brackets: the gloss that lets a user without
// Russian read every status line.
std::string glossed(const std::function<std::string(Language)>& text);

// A status text, on standard error, glossed; a failure's detail (the file, a
// read's position, the system's reason) follows the text, before the gloss.
void say(Message message, const std::string& detail = "");
// The headline of a failure with its detail.
void sayFailure(const Failure& failure);

// Draws a progress line with the rate on a terminal's standard error. The
// rows are printed from the table once the job is done: a list of its own
// would cost as much again as the table when every block is broken.
class CliSink : public ThrottledSink {
  public:
    CliSink(bool quiet, uint64_t bytes);
    ~CliSink() override;

    void notify(const Notice& notice) override;
    void reportCheck(CheckResult result) override { say(checkMessage(result)); }
    void clearErrorList() override {}
    // reportRefusal() stays silent: the join's refusals say what its result
    // says, and that is printed once, at the end.

  private:
    void draw(int32_t percent, const std::string& text);

    bool show_;
    uint64_t bytes_;
    Clock::time_point start_;
    bool drawn_ = false;
};

// The rows of the table's listed entries, tab-separated, one per line, each
// after `prefix` (the file's name and a tab when there are several); with a
// session, each block at the position the session shows for it (where it
// stands in the input file).
void printRows(const BlockTable& table, const std::string& prefix = "",
               const RepairSession* at = nullptr);

// The rows of what the scan found beside the broken blocks, behind the
// block rows, in stream order: a video CD rip's faulty sectors as they
// always were (each line starts with `prefix` and "sector" and a tab, then
// the sector's number, its disc address (mm:ss:ff), the fault and the stream
// range [start, end), tab-separated), and the checks' findings, each line
// starting with `prefix` and the kind's name ("hole", "gap", ...), then the
// stream ("E0", "BD/80"; "-" for the system layer), the stream range
// [start, end), the time it starts at (h:mm:ss.ff), the frames it touches
// and the cause, "-" for what is not known, tab-separated.
void printFindingRows(const AppState& state, const std::string& prefix = "");

// The scan's findings counted by kind: the broken blocks listed, the checks'
// findings and a rip's faulty sectors.
std::vector<size_t> countFindings(const AppState& state);
// Those counts on standard error, glossed, when there are any.
void sayFindingCounts(const AppState& state);

// The automatic repair's plan: one line per block it was given, its index,
// file offset, start code, what was done and how sure, tab-separated, each
// after `prefix`.
void printPlan(const RepairLog& repairs, const std::string& prefix = "");

// The automatic repair's summary on standard error, glossed like every
// status text.
void saySummary(const RepairSummary& summary);
// The junk around the stream that the written stream leaves out, when the
// scan found any.
void sayJunkLeftOut(const FindingList& findings);

// What the scan of a written file found: the blocks, the broken ones and
// where the first of those begin, and what the checks of the content still
// find in it beside the input's findings counted by kind.
void sayOutputCheck(const OutputCheck& check, const std::vector<size_t>& inputFindings);

// The blocks of the automatic repair's report that a rescan cannot judge,
// each with where it begins in the output: their length field was rewritten,
// they were padded, or the fallback wrote them (state.headerFromRealSize:
// their length rewritten, or cut or padded to their declared size), so they
// scan clean whatever their payload holds.
void sayUncheckable(const WrittenRepairs& written);

// The whole table, the stream codes and the rows as one JSON document,
// written as it is made: a stream of millions of tiny blocks gives a
// document of gigabytes, which is never held whole.
void printJson(const AppState& state);

}  // namespace mpg::cli
