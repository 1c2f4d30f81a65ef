// The error list on screen: a table view of the core's ErrorGrid. Row 0 of
// the grid is the header; its data rows are the model's rows. Behind the
// grid's columns the window shows one of its own: what the last automatic
// repair did to the row's block.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <vector>

#include "analysis/error_list.h"
#include "repair/repair_report.h"

namespace mpg::ui {

inline constexpr int kActionColumn = kErrorColumns;

class ErrorTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit ErrorTableModel(const ErrorGrid& grid, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Tells the view what the grid now holds: rows added or removed at the
    // end, and every shown cell possibly changed.
    void sync();

    // The automatic repair's report, in ascending index order, whose
    // entries the action column names; none leaves the column empty. The
    // report is the caller's and must outlive its use here.
    void showRepairs(const std::vector<BlockRepair>* repairs);
    // The action column's text for a data row: the action and how sure it
    // is, or nothing when the report names no such block.
    QString actionText(int row) const;

  private:
    const ErrorGrid& grid_;
    const std::vector<BlockRepair>* repairs_ = nullptr;
    int shownRows_ = 0;
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
