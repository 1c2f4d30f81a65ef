// The three repair strategies of the hammer. Each walks the rows of the
// error list (column 1 names the BlockTable entry) and changes the table and
// the cut list in memory only: the input file is never written. Excisions
// are file regions; the offsets of the blocks behind an excision are lowered
// so that they stay stream positions of the stream seen through the cuts.
#pragma once

#include <optional>
#include <string>

#include "analysis/error_list.h"
#include "analysis/app_state.h"

namespace mpg {

// Where a strategy shows "ptr: row >> rows" while it walks the list. Each
// strategy also stops after the row it is at when state.job.stopRequested is
// set; what it did to the rows before stays done and consistent.
class RepairProgress {
  public:
    virtual ~RepairProgress() = default;
    // Asked before each row's text is made: a receiver that shows only a few
    // texts a second declines the others. The empty text that closes a walk
    // is shown without asking.
    virtual bool due() { return true; }
    virtual void show(const std::string& text) = 0;
};

struct RepairOptions {
    bool zerosOnly = true;          // only runs of zero bytes qualify
    bool positiveDelta = true;      // only blocks longer than declared (rescan strategy)
    std::string minRepeat = "100";  // the least run length, as typed (rescan strategy)
};

inline constexpr const char* kDefaultMinRepeat = "100";

// The BlockTable entry a row of the list names, or nothing for a row whose
// column 1 is empty, not a whole number, or outside the table.
std::optional<size_t> rowEntry(const ErrorGrid& grid, int row, const BlockTable& table);

// Excises, from every listed block, its longest run when the run is exactly
// as long as the block's excess (real minus declared size); such a block
// becomes sound and its row leaves the list.
void removeRunsEqualToDelta(AppState& state, ErrorGrid& grid, const RepairOptions& options,
                RepairProgress& progress);

// Excises the longest run of every listed block that passes the filters
// (positive delta, at least minRepeat bytes, zeros only), shortens the
// block's real size by it and searches the block anew for its next run. The
// block stays listed. `options.minRepeat` is set back to "100" when it is no
// whole number. Reads the input file named `inputPath` for the search: it is
// opened once for the walk and closed at its end, and of each block only its
// own bytes are read.
void removeRunsAndRemeasure(AppState& state, ErrorGrid& grid, RepairOptions& options,
                     const std::string& inputPath, RepairProgress& progress);

// Accepts every listed block at its real size ('x'): the writer corrects its
// header or its length. The list is emptied.
void acceptRealSizes(AppState& state, ErrorGrid& grid, RepairProgress& progress);

// Finds the longest run of equal bytes among bytes 8 to length - 1 of the
// block at stream position `offset`, read from `inputPath` through the cut
// list, and stores it in entry `index`. Blocks longer than the cache are
// read in pieces. Nothing changes when the file cannot be opened or read.
void measureLongestRun(AppState& state, const std::string& inputPath, uint32_t offset, uint32_t length,
              size_t index);

}  // namespace mpg
