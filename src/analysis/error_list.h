// The rows of the error list: one per broken block of the BlockTable, then
// one per finding of the checks of the content (damage that leaves the
// blocks whole), which names no table entry. A row
// keeps the values it was reported with (the table index and a copy of the
// entry) and makes its cell texts only when they are asked for: a stream with
// a million broken blocks holds a million rows that nobody may ever look at.
// The repair strategies walk the rows' entries, the window shows the cells
// through a model, and the command-line companion prints them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "analysis/job_sink.h"
#include "model/block_table.h"
#include "model/finding.h"

namespace mpg {

inline constexpr int kErrorColumns = 8;
inline constexpr int kOffsetColumn = 3;
// The real size's column, which holds a finding's length.
inline constexpr int kLengthColumn = 5;
using ErrorRow = std::array<std::string, kErrorColumns>;

// Column texts of one data row, in the list's formats: the row number, the
// index, the code as 8 upper-case hex digits, the offset unsigned, the sizes
// and the delta signed, and the run as "100(00) at 7".
std::string formatCode(uint32_t code);
// A code as a title names it: the last byte ("E0") of a code that begins
// with the start-code prefix, else all 8 digits.
std::string formatShortCode(uint32_t code);
std::string formatRun(const BlockRecord& record);

// One cell of the data row `number` that names table entry `index`: columns
// 5 to 7 (the real size, delta and run) stay empty until `resolved`.
std::string errorCell(int column, int number, int64_t index, const BlockRecord& record,
                      bool resolved = true);
// One cell of the data row `number` that shows a finding: the row number,
// the stream's code as a title names it (none for the system layer), the
// first byte and the length of its range; the front ends name the rest.
std::string findingCell(int column, int number, const Finding& finding);
// The same cell appended to `out`, with no text of its own made: a front end
// that prints a hundred thousand rows formats them into one buffer.
void appendErrorCell(std::string& out, int column, int number, int64_t index,
                     const BlockRecord& record, bool resolved = true);
// The entries a list rebuilt from the table would name: those marked listed,
// in the table's order. What a front end that keeps no rows of its own
// repairs and prints.
std::vector<size_t> listedInTable(const BlockTable& table);
// How many entries that list would name, without making it: the count a
// status text shows for a table of millions of blocks.
size_t countListed(const BlockTable& table);

class ErrorGrid {
  public:
    ErrorGrid() { clear(); }

    int rowCount() const { return static_cast<int>(rows_.size()); }
    // Whether a data row names a block: the header row and an emptied row
    // do not, and all their cells are empty.
    bool rowUsed(int r) const { return rows_[static_cast<size_t>(r)].state != RowState::Empty; }
    // The cell's text, made from the row's values: column 0 is the row
    // number, 1 the index, 2 to 4 the code, offset and declared size, and 5
    // to 7 (the real size, delta and run) stay empty until the block's
    // search has ended.
    std::string cell(int r, int c) const;
    ErrorRow row(int r) const;
    // Whether both lists show the same rows, cell for cell; compared by the
    // values the cells show, without making their texts.
    bool operator==(const ErrorGrid& other) const;

    // The header row (its titles are the front ends' own) and one empty
    // data row.
    void clear();
    // The BlockTable entries the rows name, in the list's order; a row that
    // is empty or whose index lies outside the table names none. This is
    // what the repair strategies take.
    std::vector<size_t> listedEntries(const BlockTable& table) const;
    // The entry one row names, if any.
    std::optional<size_t> rowEntry(int row, const BlockTable& table) const;
    // The entry a data row was reported with (a copy, not the table's),
    // nothing for an unused row; and whether its block's search had ended.
    const BlockRecord* rowRecord(int row) const;
    bool rowResolved(int row) const {
        return rows_[static_cast<size_t>(row)].state == RowState::Resolved;
    }
    // The index a data row was reported with, without a look at the table
    // (which a job may be changing meanwhile); -1 for an unused row.
    int64_t rowIndex(int row) const;
    // The finding a data row shows, nothing for a block's row or an unused
    // one. A finding's row names no entry: the strategies pass it.
    const Finding* rowFinding(int row) const;
    // The rows of findings become one per finding given, in that order,
    // behind the blocks' rows; none removes them (a resumed scan's blocks
    // then go on from the last block's row).
    void showFindings(const std::vector<Finding>& findings);

    // After a stopped scan: a last row without its real size (its block's
    // search was cut short, or no block was listed) is removed, or emptied
    // when it is the only data row. Returns whether it was.
    bool dropUnfinishedRow();

    // A block was just found broken (its real size is not known yet); returns
    // the row written, which becomes the current row: the last row when it
    // is unused, else a new row below it.
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
    // Rebuilds the list from the table: one row per entry named, whether
    // still broken or not, in the order given; names past the table's end
    // are skipped. The automatic repair's list keeps the blocks it made
    // sound, so that their rows can say what was done to them.
    void rebuildFromEntries(const BlockTable& table, const std::vector<size_t>& entries);
    // The offset each row shows becomes shown(offset): where the block
    // stands in the file the user named, once a repair has cut regions out.
    template <class Shown>
    void mapOffsets(Shown shown) {
        for (Row& row : rows_) {
            if (row.state == RowState::Found || row.state == RowState::Resolved)
                row.record.offset = shown(row.record.offset);
        }
        for (Finding& f : findings_) {
            f.begin = shown(f.begin);
            f.end = shown(f.end);
        }
    }

  private:
    // Found and Resolved name a block; a Finding row shows findings_[index].
    enum class RowState : uint8_t { Empty, Found, Resolved, Finding };
    struct Row {
        BlockRecord record;  // the entry as last reported
        int64_t index = 0;   // its place in the BlockTable
        RowState state = RowState::Empty;
    };
    bool namesBlock(const Row& row) const {
        return row.state == RowState::Found || row.state == RowState::Resolved;
    }

    // The row a new entry goes into: the last row when it is unused, else a
    // new row below it.
    int takeRow();
    // Removes the last data row, or empties it when it is the only one.
    void dropLastRow();

    // A deque: a scan that lists millions of blocks grows the list row by row,
    // and a doubling array would hold the old rows and their new home at once.
    std::deque<Row> rows_;
    std::vector<Finding> findings_;
};

}  // namespace mpg
