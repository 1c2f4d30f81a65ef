#include "repair/strategies.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "repair/auto_repair.h"
#include "stream/procedures.h"

namespace mpg {

namespace {

// The offsets of the entries behind each excised block are lowered by the
// excision. Doing that entry by entry for every block would cost a pass over
// the whole table per block (a million entries times a thousand blocks).
// Walking in the table's order, the lowering is one running sum applied
// behind the walk. In any other order it is counted in a Fenwick tree and
// applied in one pass at the end; only the entries that the list names can
// be excised from, so the tree has a place for each of those alone.
class OffsetShifts {
  public:
    explicit OffsetShifts(const std::vector<size_t>& listed)
        : running_(std::adjacent_find(listed.begin(), listed.end(), std::greater_equal<>()) ==
                   listed.end()) {
        if (running_) return;
        listed_ = listed;
        std::sort(listed_.begin(), listed_.end());
        listed_.erase(std::unique(listed_.begin(), listed_.end()), listed_.end());
        tree_.assign(listed_.size() + 1, 0);
        added_.assign(listed_.size(), 0);
    }

    // Every entry after listed entry `index` moves down by `cut` bytes.
    void lowerAfter(BlockTable& table, size_t index, uint32_t cut) {
        if (running_) {
            lowerUpTo(table, index + 1);
            shift_ += cut;
            return;
        }
        const size_t k = placeOf(index);
        added_[k] += cut;
        for (size_t p = k + 1; p < tree_.size(); p += p & (~p + 1)) tree_[p] += cut;
    }
    // The current offset of an entry, with the lowering counted so far.
    Position offsetOf(const BlockTable& table, size_t index) const {
        if (running_) return table[index].offset - shift_;
        Position shift = 0;
        for (size_t p = placeOf(index); p > 0; p -= p & (~p + 1)) shift += tree_[p];
        return table[index].offset - shift;
    }
    void applyTo(BlockTable& table) {
        if (running_) {
            lowerUpTo(table, table.size());
            return;
        }
        if (std::all_of(added_.begin(), added_.end(), [](Position a) { return a == 0; })) return;
        Position shift = 0;
        size_t k = 0;
        for (size_t i = 0; i < table.size(); ++i) {
            // The cuts of the listed entries before entry i.
            for (; k < listed_.size() && listed_[k] < i; ++k) shift += added_[k];
            table[i].offset -= shift;
        }
    }

  private:
    // Walking in ascending order: the entries before `end` that were not
    // lowered yet are lowered by the cuts made so far, which all lie before
    // them.
    void lowerUpTo(BlockTable& table, size_t end) {
        if (shift_ > 0) {
            for (size_t i = lowered_; i < end; ++i) table[i].offset -= shift_;
        }
        lowered_ = std::max(lowered_, end);
    }
    // The number of listed entries before `index`.
    size_t placeOf(size_t index) const {
        return static_cast<size_t>(std::lower_bound(listed_.begin(), listed_.end(), index) -
                                   listed_.begin());
    }

    // A list in strictly ascending order (as a scan lists) is walked with
    // one running sum and the table lowered behind the walk: nothing is held
    // per listed block. Any other order counts the cuts in the tree.
    bool running_;
    Position shift_ = 0;
    size_t lowered_ = 0;
    std::vector<size_t> listed_;
    std::vector<Position> tree_;
    std::vector<Position> added_;
};

// Walks the listed blocks in the list's order: reports each row, stops after
// the row it is at when asked, and hands each block's index to `visit`. When
// the list shrinks as blocks are fixed (they leave it), the progress counts
// the rows still listed.
template <class Visit>
StrategyOutcome walkListed(const AppState& state, const std::vector<size_t>& listed,
                           RepairProgress& progress, bool listShrinks, Visit visit) {
    StrategyOutcome outcome;
    const size_t rows = listed.size() + 1;
    for (size_t row = 1; row < rows; ++row) {
        if (state.job.stopRequested.load(std::memory_order_relaxed)) {
            outcome.stopped = true;
            break;
        }
        const size_t gone = listShrinks ? outcome.fixed : 0;
        if (progress.due()) progress.step(row - gone, rows - gone);
        visit(listed[row - 1], outcome);
        if (outcome.failure) break;
    }
    progress.finished();
    return outcome;
}

// The longest run of equal bytes among bytes 8 to length - 1 of the block at
// stream position `offset`, its start counted from the block's first byte;
// nothing when a read fails. A block with no byte to search has no run,
// starting at 0. The block may be one whose `gapLength` bytes from its byte
// `gapStart` on are being cut out: its bytes are then read where they stand
// before the cut, the block at `before`, with the gap stepped over.
std::optional<LongestRun::Run> longestRun(StreamView& view, Position fileSize, Position offset,
                                          uint32_t length, StreamView::Fill fill, Position before,
                                          uint32_t gapStart = 0, uint32_t gapLength = 0) {
    // A block from a foreign index file may claim gigabytes: no more is
    // searched than the file holds behind it.
    const Position end = std::min<Position>(length, fileSize > offset ? fileSize - offset : 0);
    // The first 8 bytes (start code, length field and two more) are skipped.
    constexpr uint32_t kFirst = 8;
    LongestRun search;
    search.restart(kFirst);
    // The block's bytes `from` to `to` (as it is after the cut), read `shift`
    // bytes further on.
    const auto take = [&](Position from, Position to, Position shift) {
        return from >= to || view.readPieces(
                                 before + from + shift, to - from,
                                 [&](const uint8_t* bytes, uint32_t piece, Position done) {
                                     search.take(bytes, piece, from + done);
                                     return true;
                                 },
                                 fill);
    };
    const Position split = std::max<Position>(gapStart, kFirst);
    if (!take(kFirst, std::min(end, split), 0) || !take(split, end, gapLength)) return std::nullopt;
    const LongestRun::Run best = search.longest();
    return best.length > 0 ? best : LongestRun::Run{};
}

void storeRun(BlockRecord& e, const LongestRun::Run& run) {
    e.repeatByte = run.byte;
    e.repeatLength = static_cast<uint32_t>(run.length);
    e.repeatStart = static_cast<uint32_t>(run.start);
}

// Adds the excision of `length` bytes at stream position `pos`.
void cutAt(StreamView& view, Position pos, uint32_t length) {
    view.addCut(view.streamToFile(pos), length);
}

}  // namespace

std::optional<int32_t> parseMinRepeat(const std::string& text) {
    const bool number = isDecimal(text) && text != "-" && text.size() <= 11;
    const long long value = number ? std::stoll(text) : 0;
    if (!number || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

// The progress counts the blocks still listed: a block made sound leaves the
// list, and the rows below it move up.
StrategyOutcome removeRunsEqualToDelta(AppState& state, const std::vector<size_t>& listed,
                                       const RepairOptions& options, RepairProgress& progress) {
    BlockTable& table = state.table;
    OffsetShifts shifts(listed);
    const StrategyOutcome outcome =
        walkListed(state, listed, progress, true, [&](size_t index, StrategyOutcome& done) {
            const BlockRecord& e = table[index];
            if ((options.zerosOnly && e.repeatByte != 0) || int64_t{e.repeatLength} != e.delta()) {
                return;
            }
            const Position offset = shifts.offsetOf(table, index);
            cutAt(state.view, offset + e.repeatStart, e.repeatLength);
            shifts.lowerAfter(table, index, e.repeatLength);
            done.bytesCut += e.repeatLength;
            table.clearErrorFields(static_cast<int64_t>(index));
            ++done.fixed;
        });
    shifts.applyTo(table);
    return outcome;
}

// The input is opened once for the whole walk. The cuts are made when the
// walk is done: until then each block stands where the table says, and its
// bytes come from the view's windows as the scan read them (a cut moves
// every stream position behind it, so reading after each cut would take a
// read of its own per block).
StrategyOutcome removeRunsAndRemeasure(AppState& state, const std::vector<size_t>& listed,
                                       const RepairOptions& options, const std::string& inputPath,
                                       RepairProgress& progress) {
    BlockTable& table = state.table;
    StreamView& view = state.view;
    // Compared as unsigned: a negative least length lets no block pass.
    const uint32_t minRepeat = static_cast<uint32_t>(options.minRepeat);
    OffsetShifts shifts(listed);
    std::vector<CutRegion> cuts;
    bool opened = false;
    Position fileSize = 0;
    constexpr Position kNearBlocks = 16 * 1024;
    Position lastEnd = 0;  // where the block re-measured last ends, before the cuts
    const StrategyOutcome outcome =
        walkListed(state, listed, progress, false, [&](size_t index, StrategyOutcome& done) {
            BlockRecord& e = table[index];
            if (options.positiveDelta && e.delta() <= 0) return;
            if (e.repeatLength < minRepeat) return;
            if (options.zerosOnly && e.repeatByte != 0) return;
            // The table's offset is the block's before this walk's cuts.
            const Position before = e.offset;
            const Position offset = shifts.offsetOf(table, index);
            const uint32_t gapStart = e.repeatStart, gapLength = e.repeatLength;
            cuts.push_back({view.streamToFile(before + gapStart), gapLength});
            shifts.lowerAfter(table, index, gapLength);
            done.bytesCut += gapLength;
            ++done.remeasured;
            e.realSize = static_cast<int32_t>(static_cast<uint32_t>(e.realSize) - gapLength);
            // An input that cannot be opened, or is no longer the file
            // scanned, ends the walk; the block keeps its old run.
            if (!opened) {
                if (!view.openFile(inputPath)) {
                    done.failure = view.failure();
                    return;
                }
                opened = true;
                fileSize = view.fileLength();
                view.invalidateWindow();
            }
            // Broken blocks close behind one another are read a whole window
            // at a time; one far from the last alone, as a window's read
            // would cost a hundred times its bytes.
            const bool near = before >= lastEnd && before - lastEnd < kNearBlocks;
            lastEnd = before + static_cast<uint32_t>(e.realSize) + gapLength;
            if (const auto run =
                    longestRun(view, fileSize, offset, static_cast<uint32_t>(e.realSize),
                               near ? StreamView::Fill::Window : StreamView::Fill::Exact, before,
                               gapStart, gapLength)) {
                storeRun(e, *run);
            } else {
                done.failure = view.failure();
            }
        });
    if (opened) view.closeFile();
    std::sort(cuts.begin(), cuts.end(),
              [](const CutRegion& a, const CutRegion& b) { return a.start < b.start; });
    for (const CutRegion& cut : cuts) view.addCut(cut.start, cut.length);
    view.invalidateWindow();
    shifts.applyTo(table);
    return outcome;
}

StrategyOutcome acceptRealSizes(AppState& state, const std::vector<size_t>& listed,
                                RepairProgress& progress) {
    return walkListed(state, listed, progress, false, [&](size_t index, StrategyOutcome& done) {
        state.table[index].broken = kBrokenAccepted;
        ++done.fixed;
    });
}

StrategyOutcome applyStrategy(AppState& state, const std::vector<size_t>& listed, Strategy strategy,
                              const RepairOptions& options, const std::string& inputPath,
                              RepairProgress& progress) {
    StrategyOutcome outcome;
    switch (strategy) {
        case Strategy::RemoveRunsEqualToDelta:
            outcome = removeRunsEqualToDelta(state, listed, options, progress);
            break;
        case Strategy::RemoveRunsAndRemeasure:
            outcome = removeRunsAndRemeasure(state, listed, options, inputPath, progress);
            break;
        case Strategy::AcceptRealSizes:
            outcome = acceptRealSizes(state, listed, progress);
            break;
        case Strategy::Automatic:
            outcome = repairAutomatically(state, listed, inputPath, progress, options.keepReport);
            break;
    }
    const BlockTable& table = state.table;
    outcome.left = static_cast<size_t>(std::count_if(listed.begin(), listed.end(), [&](size_t i) {
        return i < table.size() && table[i].broken == kBrokenListed;
    }));
    state.view.resetCache();
    return outcome;
}

StrategyOutcome applyStrategy(AppState& state, ErrorGrid& grid, Strategy strategy,
                              const RepairOptions& options, const std::string& inputPath,
                              RepairProgress& progress) {
    const StrategyOutcome outcome = applyStrategy(state, grid.listedEntries(state.table), strategy,
                                                  options, inputPath, progress);
    grid.rebuildFromTable(state.table);
    return outcome;
}

void measureLongestRun(AppState& state, const std::string& inputPath, Position offset,
                       uint32_t length, size_t index) {
    StreamView& view = state.view;
    if (!view.openFile(inputPath)) return;
    view.invalidateWindow();
    const auto run =
        longestRun(view, view.fileLength(), offset, length, StreamView::Fill::Exact, offset);
    view.closeFile();
    if (run) storeRun(state.table[index], *run);
}

}  // namespace mpg
