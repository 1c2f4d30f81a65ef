#include "repair/strategies.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "stream/procedures.h"

namespace mpg {

namespace {

std::string progressText(int row, int rows) {
    return "ptr: " + std::to_string(row) + " >> " + std::to_string(rows);
}

// The offsets of the entries behind each excised block are lowered by the
// excision. Doing that entry by entry for every block would cost a pass over
// the whole table per block (a million entries times a thousand blocks), so
// the lowering is counted in a Fenwick tree while the strategy runs and
// applied to the table in one pass at the end.
class OffsetShifts {
  public:
    explicit OffsetShifts(size_t entries) : tree_(entries + 1, 0), added_(entries + 1, 0) {}

    // Every entry after `index` moves down by `cut` bytes.
    void lowerAfter(size_t index, uint32_t cut) {
        added_[index + 1] += cut;
        for (size_t p = index + 1; p < tree_.size(); p += p & (~p + 1)) tree_[p] += cut;
    }
    // The current offset of an entry, with the lowering counted so far.
    uint32_t offsetOf(const BlockTable& table, size_t index) const {
        uint64_t shift = 0;
        for (size_t p = index; p > 0; p -= p & (~p + 1)) shift += tree_[p];
        return table[index].offset - static_cast<uint32_t>(shift);
    }
    void applyTo(BlockTable& table) const {
        uint64_t shift = 0;
        for (size_t i = 0; i < table.size(); ++i) {
            shift += added_[i];
            table[i].offset -= static_cast<uint32_t>(shift);
        }
    }

  private:
    std::vector<uint64_t> tree_;
    std::vector<uint64_t> added_;
};

// Adds the excision of `length` bytes at stream position `pos`; false, and
// nothing cut, when the region would lie beyond 32-bit file positions (only
// an absurd table loaded from an index file gets there).
bool cutAt(StreamView& view, uint64_t pos, uint32_t length) {
    const uint64_t start = view.streamToFile(pos);
    if (start + length > std::numeric_limits<uint32_t>::max()) return false;
    view.addCut(static_cast<uint32_t>(start), length);
    return true;
}

int32_t minRepeatOf(std::string& text) {
    const bool number = isDecimal(text) && text != "-" && text.size() <= 11;
    const long long value = number ? std::stoll(text) : 0;
    if (!number || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        text = kDefaultMinRepeat;
        return 100;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

std::optional<size_t> rowEntry(const ErrorGrid& grid, int row, const BlockTable& table) {
    const std::string& text = grid.cell(row, 1);
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const unsigned long long index = std::stoull(text);
    if (index >= table.size()) return std::nullopt;
    return static_cast<size_t>(index);
}

void FixEQDelta(AppState& state, ErrorGrid& grid, const RepairOptions& options,
                RepairProgress& progress) {
    BlockTable& table = state.table;
    OffsetShifts shifts(table.size());
    int row = 1;
    while (row < grid.rowCount()) {
        progress.show(progressText(row, grid.rowCount()));
        const std::optional<size_t> index = rowEntry(grid, row, table);
        if (!index) {
            ++row;
            continue;
        }
        const BlockRecord& e = table[*index];
        if ((options.zerosOnly && e.repeatByte != 0) || int64_t{e.repeatLength} != e.delta()) {
            ++row;
            continue;
        }
        const uint64_t offset = shifts.offsetOf(table, *index);
        if (!cutAt(state.view, offset + e.repeatStart, e.repeatLength)) {
            ++row;
            continue;
        }
        shifts.lowerAfter(*index, e.repeatLength);
        table.zerpack(static_cast<int64_t>(*index));
        // The rows below move up one place and show their blocks' lowered offsets.
        grid.removeRow(row);
        for (int r = row; r < grid.rowCount(); ++r) {
            if (const auto moved = rowEntry(grid, r, table)) {
                grid.setCell(r, 3, std::to_string(shifts.offsetOf(table, *moved)));
            }
        }
    }
    shifts.applyTo(table);
    progress.show("");
}

void RemoveAndRescan(AppState& state, ErrorGrid& grid, RepairOptions& options,
                     const std::string& inputPath, RepairProgress& progress) {
    BlockTable& table = state.table;
    // Compared as unsigned: a negative least length lets no block pass.
    const uint32_t minRepeat = static_cast<uint32_t>(minRepeatOf(options.minRepeat));
    OffsetShifts shifts(table.size());
    std::vector<size_t> rescanned;
    for (int row = 1; row < grid.rowCount(); ++row) {
        progress.show(progressText(row, grid.rowCount()));
        const std::optional<size_t> index = rowEntry(grid, row, table);
        if (!index) continue;
        BlockRecord& e = table[*index];
        if (options.positiveDelta && e.delta() <= 0) continue;
        if (e.repeatLength < minRepeat) continue;
        if (options.zerosOnly && e.repeatByte != 0) continue;
        const uint64_t offset = shifts.offsetOf(table, *index);
        if (!cutAt(state.view, offset + e.repeatStart, e.repeatLength)) continue;
        shifts.lowerAfter(*index, e.repeatLength);
        e.realSize = static_cast<int32_t>(static_cast<uint32_t>(e.realSize) - e.repeatLength);
        scanpack(state, inputPath, static_cast<uint32_t>(offset), static_cast<uint32_t>(e.realSize),
                 *index);
        grid.writeTail(row, e);
    }
    shifts.applyTo(table);
    progress.show("");
}

void FixSizes(AppState& state, ErrorGrid& grid, RepairProgress& progress) {
    for (int row = 1; row < grid.rowCount(); ++row) {
        progress.show(progressText(row, grid.rowCount()));
        if (const auto index = rowEntry(grid, row, state.table)) {
            state.table[*index].broken = kBrokenAccepted;
        }
    }
    grid.clear();
}

void scanpack(AppState& state, const std::string& inputPath, uint32_t offset, uint32_t length,
              size_t index) {
    StreamView& view = state.view;
    if (!view.openFile(inputPath)) return;
    view.invalidateWindow();
    // A block from a foreign index file may claim gigabytes: no more is
    // searched than the file holds behind it.
    const uint64_t fileSize = view.fileLength();
    const uint64_t end = std::min<uint64_t>(length, fileSize > offset ? fileSize - offset : 0);
    // The first 8 bytes (start code, length field and two more) are skipped.
    constexpr uint32_t kFirst = 8;
    uint8_t byte = 0, bestByte = 0;
    uint32_t run = 0, runStart = kFirst, best = 0, bestStart = 0;
    const uint64_t count = end > kFirst ? end - kFirst : 0;
    const bool read = view.readPieces(uint64_t{offset} + kFirst, count,
                                      [&](const uint8_t* bytes, uint32_t piece, uint64_t done) {
                                          // The search starts inside an empty run of zero bytes; a
                                          // run becomes the longest only when strictly longer, so
                                          // the first of two equal runs wins.
                                          for (uint32_t k = 0; k < piece; ++k) {
                                              if (bytes[k] == byte) {
                                                  if (++run > best) {
                                                      best = run;
                                                      bestByte = byte;
                                                      bestStart = runStart;
                                                  }
                                                  continue;
                                              }
                                              if (run > best) {
                                                  best = run;
                                                  bestByte = byte;
                                                  bestStart = runStart;
                                              }
                                              byte = bytes[k];
                                              run = 1;
                                              runStart = static_cast<uint32_t>(kFirst + done + k);
                                          }
                                          return true;
                                      });
    view.closeFile();
    if (!read) return;
    BlockRecord& e = state.table[index];
    e.repeatByte = bestByte;
    e.repeatLength = best;
    e.repeatStart = bestStart;
}

}  // namespace mpg
