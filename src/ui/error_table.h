// The error list on screen: a table view of the core's ErrorGrid. Row 0 of
// the grid is the header; its data rows are the model's rows.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

#include "analysis/error_list.h"

namespace mpg::ui {

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

  private:
    const ErrorGrid& grid_;
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
