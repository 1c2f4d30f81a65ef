// The rows of the error list: one per broken block of the BlockTable, as
// plain cell texts. The repair strategies walk these rows (column 1 is the
// BlockTable index), the window shows them through a model, and the
// command-line companion prints them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "analysis/job_sink.h"
#include "model/block_table.h"

namespace mpg {

inline constexpr int kErrorColumns = 8;
using ErrorRow = std::array<std::string, kErrorColumns>;

// Column texts of one data row, in the list's formats: the row number, the
// index, the code as 8 upper-case hex digits, the offset unsigned, the sizes
// and the delta signed, and the run as "100(00) at 7".
std::string formatCode(uint32_t code);
std::string formatRun(const BlockRecord& record);

class ErrorGrid {
  public:
    ErrorGrid() { clear(); }

    int rowCount() const { return static_cast<int>(rows_.size()); }
    const ErrorRow& row(int r) const { return rows_[static_cast<size_t>(r)]; }
    const std::string& cell(int r, int c) const {
        return rows_[static_cast<size_t>(r)][static_cast<size_t>(c)];
    }
    void setCell(int r, int c, std::string text) {
        rows_[static_cast<size_t>(r)][static_cast<size_t>(c)] = std::move(text);
    }

    // The header row (its titles are the front ends' own) and one empty
    // data row.
    void clear();
    // The row a new entry goes into: the last row when it is unused (column 0
    // empty), else a new row below it.
    int takeRow();
    // Columns 0 to 4 (row number, index, code, offset, declared size).
    void writeHead(int r, int64_t index, const BlockRecord& record);
    // Columns 5 to 7 (real size, delta, run).
    void writeTail(int r, const BlockRecord& record);
    // The BlockTable entries the rows name (column 1), in the list's order;
    // a row whose column 1 is empty, no whole number or outside the table
    // names none. This is what the repair strategies take.
    std::vector<size_t> listedEntries(const BlockTable& table) const;
    // The entry one row names, if any.
    std::optional<size_t> rowEntry(int row, const BlockTable& table) const;
    // After a stopped scan: a last row without its real size (its block's
    // search was cut short, or no block was listed) is removed, or emptied
    // when it is the only data row. Returns whether it was.
    bool dropUnfinishedRow();

    // A block was just found broken (its real size is not known yet); returns
    // the row written, which becomes the current row.
    int onBroken(int64_t index, const BlockRecord& record);
    // The same block's real size and run are known: completes the last row.
    int onResolved(int64_t index, const BlockRecord& record);
    // A resumed scan examines its last block afresh: that block's row, the
    // last one when it names `index`, is removed (or emptied when it is the
    // only data row). Returns whether it was.
    bool onWithdrawn(int64_t index);
    // A scan's report applied to the rows as above: the row it wrote or
    // removed (the row that becomes current), or -1 when it touches none.
    int onNotice(const Notice& notice);
    // Rebuilds the list from the table: one row per entry marked 'y'.
    void rebuildFromTable(const BlockTable& table);

  private:
    // Removes the last data row, or empties it when it is the only one.
    void dropLastRow();

    // A deque: a scan that lists millions of blocks grows the list row by row,
    // and a doubling array would hold the old rows and their new home at once.
    std::deque<ErrorRow> rows_;
};

// The column-width rule: columns 0 to 2 keep their widths, 3 to 6 share four
// fifths of the rest, the last takes what remains less 8 pixels. No clamp:
// a narrow grid gives zero or negative widths.
using ColumnWidths = std::array<int, kErrorColumns>;
inline constexpr ColumnWidths kInitialColumnWidths = {31, 47, 84, 76, 102, 96, 67, 86};
ColumnWidths columnWidthsFor(int clientWidth, const ColumnWidths& widths);

}  // namespace mpg
