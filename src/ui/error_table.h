// The error list on screen: a table view of the core's ErrorGrid. Row 0 of
// the grid is the header; its data rows are the model's rows. Behind the
// grid's columns the window shows one of its own: what the last automatic
// repair did to the row's block.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <array>
#include <optional>
#include <vector>

#include "analysis/error_list.h"
#include "analysis/row_filter.h"
#include "repair/repair_report.h"

namespace mpg {

// The column-width rule of the error list: columns 0 to 2 keep their widths,
// 3 to 6 share four fifths of the rest, the last takes what remains less 8
// pixels. No clamp: a narrow grid gives zero or negative widths.
using ColumnWidths = std::array<int, kErrorColumns>;
inline constexpr ColumnWidths kInitialColumnWidths = {31, 47, 84, 76, 102, 96, 67, 86};
ColumnWidths columnWidthsFor(int clientWidth, const ColumnWidths& widths);

}  // namespace mpg

namespace mpg::ui {

inline constexpr int kActionColumn = kErrorColumns;
// What kind of damage a row is: a broken block or a finding of the checks
// of the content; its tooltip explains the kind and the cause.
inline constexpr int kKindColumn = kActionColumn + 1;
inline constexpr int kKindColumnWidth = 110;
// The value a cell sorts by: the number behind its text (offsets past 4 GiB
// and negative deltas would sort wrongly as text), the run by its length.
inline constexpr int kSortRole = Qt::UserRole;

class ErrorTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit ErrorTableModel(const ErrorGrid& grid, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Tells the view what the grid now holds: rows added or removed at the
    // end, and every shown cell from data row `changedFrom` on possibly
    // changed (a scan's batch touches only the last rows: a sorted or
    // filtered view re-examines what it is told has changed).
    void sync(int changedFrom = 0);

    // The automatic repair's report, in ascending index order, whose
    // entries the action column names; none leaves the column empty. The
    // report is the caller's and must outlive its use here.
    void showRepairs(const RepairLog* repairs);
    // The action column's text for a data row: the action and how sure it
    // is, or nothing when the report names no such block.
    QString actionText(int row) const;

  private:
    // The report's entry for a data row's block, if it has one.
    std::optional<BlockRepair> repairOf(int row) const;
    // A cell of a finding's row: the kind, the stream with its substream,
    // the time and frames it touches; the grid's numbers for the rest.
    QVariant findingCell(const Finding& finding, int row, int column, int role) const;
    // A cell of a row whose block the report made sound: its sizes as the
    // scan found them, no run (the action column says what was done).
    QVariant repairedCell(const BlockRepair& repair, int column, int role) const;

    const ErrorGrid& grid_;
    const RepairLog* repairs_ = nullptr;
    int shownRows_ = 0;
};

// The rows the list shows: the model's rows in the order of the column the
// user sorted by (the grid's order until then), those the filter passes.
// Whatever acts on a row maps it back to the grid through sourceRow().
class ErrorRowsShown : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    ErrorRowsShown(const ErrorGrid& grid, ErrorTableModel* rows, QObject* parent = nullptr);

    // No filter (or an empty one) shows every row, the unused one included.
    void setRowFilter(std::optional<RowFilter> filter);
    bool filtering() const { return filter_.has_value(); }
    // The grid row (the header is row 0) a shown row stands for; -1 for none.
    int gridRow(int shownRow) const;
    // The shown row of a grid row; -1 when the filter hides it.
    int shownRow(int gridRow) const;
    // The rows that name a block: those shown, and all of them.
    int blocksShown() const;
    int blocksListed() const;

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

  private:
    const ErrorGrid& grid_;
    std::optional<RowFilter> filter_;
};

// Cells are drawn plainly with their text 2 pixels in from the top-left
// corner; selected rows show light green with black text.
class StringERDrawCell : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static const QColor kSelected;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace mpg::ui
