#include "ui/error_table.h"

#include <QPainter>
#include <algorithm>

#include "text/messages.h"

namespace mpg::ui {

const QColor StringERDrawCell::kSelected(208, 255, 208);

ErrorTableModel::ErrorTableModel(const ErrorGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), shownRows_(grid.rowCount() - 1) {}

int ErrorTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int ErrorTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kActionColumn + 1;
}

QString ErrorTableModel::actionText(int row) const {
    if (repairs_ == nullptr || row + 1 >= grid_.rowCount()) return {};
    const int64_t index = grid_.rowIndex(row + 1);
    if (index < 0) return {};
    const auto at = std::lower_bound(repairs_->begin(), repairs_->end(), static_cast<size_t>(index),
                                     [](const BlockRepair& r, size_t i) { return r.index < i; });
    if (at == repairs_->end() || at->index != static_cast<size_t>(index)) return {};
    return QString::fromStdString(repairActionText(*at)) + QStringLiteral(" — ") +
           QString::fromUtf8(repairCertaintyText(at->certainty));
}

QVariant ErrorTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() + 1 >= grid_.rowCount()) return {};
    // An action runs longer than its column at most window widths.
    if (index.column() == kActionColumn && (role == Qt::DisplayRole || role == Qt::ToolTipRole))
        return actionText(index.row());
    if (role != Qt::DisplayRole) return {};
    const std::string text = grid_.cell(index.row() + 1, index.column());
    // Offsets past 4 GiB run to 10 and 11 digits: grouped by thousands.
    if (index.column() == kOffsetColumn) return QString::fromStdString(groupDigits(text));
    return QString::fromStdString(text);
}

QVariant ErrorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    if (section == kActionColumn) return tr("действие");
    return QString::fromUtf8(errorListHeader(section));
}

void ErrorTableModel::sync() {
    const int rows = grid_.rowCount() - 1;
    if (rows > shownRows_) {
        beginInsertRows({}, shownRows_, rows - 1);
        shownRows_ = rows;
        endInsertRows();
    } else if (rows < shownRows_) {
        beginRemoveRows({}, rows, shownRows_ - 1);
        shownRows_ = rows;
        endRemoveRows();
    }
    if (shownRows_ > 0) emit dataChanged(index(0, 0), index(shownRows_ - 1, kActionColumn));
}

void ErrorTableModel::showRepairs(const std::vector<BlockRepair>* repairs) {
    repairs_ = repairs;
    if (shownRows_ > 0)
        emit dataChanged(index(0, kActionColumn), index(shownRows_ - 1, kActionColumn));
}

void StringERDrawCell::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->fillRect(option.rect, selected ? kSelected : option.palette.base().color());
    painter->setPen(selected ? QColor(Qt::black) : option.palette.text().color());
    painter->setFont(option.font);
    painter->setClipRect(option.rect);
    const QRect text = option.rect.adjusted(2, 2, 0, 0);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

}  // namespace mpg::ui
