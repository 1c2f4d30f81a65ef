// The three repair strategies of the hammer. Each walks the blocks the error
// list names and changes the table and the cut list in memory only: the
// input file is never written. Excisions
// are file regions; the offsets of the blocks behind an excision are lowered
// so that they stay stream positions of the stream seen through the cuts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/error_list.h"
#include "repair/repair_report.h"

namespace mpg {

// Where a strategy reports its walk: the row it is at and the rows the list
// holds (counted from 1, as "ptr: row >> rows" shows them). Each strategy
// also stops after the row it is at when state.job.stopRequested is set;
// what it did to the rows before stays done and consistent.
class RepairProgress {
  public:
    virtual ~RepairProgress() = default;
    // Asked before each row is reported: a receiver that shows only a few
    // steps a second declines the others.
    virtual bool due() { return true; }
    virtual void step(size_t row, size_t rows) = 0;
    // The walk has ended (shown as an empty text).
    virtual void finished() {}
};

// For batch work and tests, which show no walk.
class QuietRepairProgress : public RepairProgress {
  public:
    bool due() override { return false; }
    void step(size_t, size_t) override {}
};

struct RepairOptions {
    bool zerosOnly = true;      // only runs of zero bytes qualify
    bool positiveDelta = true;  // only blocks longer than declared (rescan strategy)
    // The least run length (rescan strategy). Compared as unsigned, as the
    // runs are: a negative least length lets no block pass.
    int32_t minRepeat = 100;
    // Whether the automatic repair keeps its account of every block, or
    // only counts them (batch work on a file of millions of broken blocks
    // that asks for no report).
    bool keepReport = true;
};

inline constexpr const char* kDefaultMinRepeat = "100";

// The least run length as the user typed it: a whole number of 32 bits, or
// nothing (the field then shows "100" again and 100 is used).
std::optional<int32_t> parseMinRepeat(const std::string& text);

// What a press of the hammer did.
struct StrategyOutcome {
    size_t fixed = 0;       // blocks made sound or accepted
    size_t remeasured = 0;  // blocks cut and measured anew (they stay listed)
    Position bytesCut = 0;  // bytes excised by this press (the cut list's lengths it added)
    size_t left = 0;        // of the blocks given, those still listed broken after it
    bool stopped = false;
    // A read of the input that failed, or an input that is no longer the
    // file scanned: the walk ended at the block it was at.
    Failure failure;
    // The automatic repair's account of every block it was given, in
    // ascending index order (empty for the other strategies, or when not
    // kept), and its counts.
    RepairLog repairs;
    RepairSummary summary;
};

// Each strategy takes the listed blocks (BlockTable indices, in the list's
// order) and changes only the table and the cut list.

// Excises, from every listed block, its longest run when the run is exactly
// as long as the block's excess (real minus declared size); such a block
// becomes sound.
StrategyOutcome removeRunsEqualToDelta(AppState& state, const std::vector<size_t>& listed,
                                       const RepairOptions& options, RepairProgress& progress);

// Excises the longest run of every listed block that passes the filters
// (positive delta, at least minRepeat bytes, zeros only), shortens the
// block's real size by it and searches the block anew for its next run. The
// block stays listed. Reads the input file named `inputPath` for the search:
// it is opened once for the walk and closed at its end, and of each block
// only its own bytes are read.
StrategyOutcome removeRunsAndRemeasure(AppState& state, const std::vector<size_t>& listed,
                                       const RepairOptions& options, const std::string& inputPath,
                                       RepairProgress& progress);

// Accepts every listed block at its real size ('x'): the writer corrects its
// header or its length.
StrategyOutcome acceptRealSizes(AppState& state, const std::vector<size_t>& listed,
                                RepairProgress& progress);

enum class Strategy { RemoveRunsEqualToDelta, RemoveRunsAndRemeasure, AcceptRealSizes, Automatic };

// One press of the hammer as the window and the command line make it: the
// strategy on the blocks the list names, then the list rebuilt from the table.
StrategyOutcome applyStrategy(AppState& state, ErrorGrid& grid, Strategy strategy,
                              const RepairOptions& options, const std::string& inputPath,
                              RepairProgress& progress);
// The same on the entries given, for a front end that keeps no list.
StrategyOutcome applyStrategy(AppState& state, const std::vector<size_t>& listed, Strategy strategy,
                              const RepairOptions& options, const std::string& inputPath,
                              RepairProgress& progress);

// Finds the longest run of equal bytes among bytes 8 to length - 1 of the
// block at stream position `offset`, read from `inputPath` through the cut
// list, and stores it in entry `index`. Blocks longer than the cache are
// read in pieces. Nothing changes when the file cannot be opened or read.
void measureLongestRun(AppState& state, const std::string& inputPath, Position offset,
                       uint32_t length, size_t index);

}  // namespace mpg
