#include "ui/error_table.h"

#include <QPainter>
#include <algorithm>

#include "text/messages.h"
#include "text/numbers.h"

namespace mpg {

ColumnWidths columnWidthsFor(int clientWidth, const ColumnWidths& widths) {
    ColumnWidths w = widths;
    const int share = (clientWidth - w[0] - w[1] - w[2]) / 5;
    w[3] = w[4] = w[5] = w[6] = share;
    w[7] = clientWidth - (w[0] + w[1] + w[2] + 4 * share) - 8;
    return w;
}

}  // namespace mpg

namespace mpg::ui {

const QColor StringERDrawCell::kSelected(208, 255, 208);

ErrorTableModel::ErrorTableModel(const ErrorGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), shownRows_(grid.rowCount() - 1) {}

int ErrorTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int ErrorTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kKindColumn + 1;
}

namespace {

// What a cell sorts by; nothing for a cell that shows nothing.
QVariant sortValue(const ErrorGrid& grid, int row, int column) {
    const BlockRecord* r = grid.rowRecord(row);
    if (r == nullptr) return {};
    switch (column) {
        case 0:
            return qlonglong{row};
        case 1:
            return qlonglong{grid.rowIndex(row)};
        case 2:
            return qlonglong{r->code};
        case kOffsetColumn:
            return qlonglong(r->offset);
        case 4:
            return qlonglong{r->declaredSize};
        default:
            break;
    }
    if (!grid.rowResolved(row)) return {};
    switch (column) {
        case 5:
            return qlonglong{r->realSize};
        case 6:
            return qlonglong{r->delta()};
        case 7:
            return qlonglong{r->repeatLength};
        default:
            return {};
    }
}

// Numbers of any size stay readable: row numbers and indexes run to
// millions, offsets past 4 GiB to 11 digits, a block that swallowed a
// drop-out to a real size of hundreds of millions.
bool groupedColumn(int column) {
    return column == 0 || column == 1 || column == kOffsetColumn || column == 4 || column == 5 ||
           column == 6;
}

std::string groupSigned(const std::string& text) {
    if (!text.empty() && text[0] == '-') {
        // Appended, not "-" + ...: gcc 12 reports a false -Wrestrict there.
        std::string signed_(1, '-');
        signed_ += groupDigits(std::string_view(text).substr(1));
        return signed_;
    }
    return groupDigits(text);
}

}  // namespace

std::optional<BlockRepair> ErrorTableModel::repairOf(int row) const {
    if (repairs_ == nullptr || row + 1 >= grid_.rowCount()) return std::nullopt;
    const int64_t index = grid_.rowIndex(row + 1);
    if (index < 0) return std::nullopt;
    return repairOfBlock(*repairs_, static_cast<size_t>(index));
}

QString ErrorTableModel::actionText(int row) const {
    const std::optional<BlockRepair> repair = repairOf(row);
    if (!repair) return {};
    return QString::fromStdString(repairActionText(*repair)) + QStringLiteral(" — ") +
           QString::fromUtf8(repairCertaintyText(repair->certainty));
}

QVariant ErrorTableModel::repairedCell(const BlockRepair& repair, int column, int role) const {
    const int64_t delta = int64_t{repair.realSize} - repair.declaredSize;
    if (column == 5) {
        return role == kSortRole
                   ? QVariant(qlonglong{repair.realSize})
                   : QString::fromStdString(groupDigits(std::to_string(repair.realSize)));
    }
    if (column == 6) {
        return role == kSortRole ? QVariant(qlonglong{delta})
                                 : QString::fromStdString(groupSigned(std::to_string(delta)));
    }
    return {};
}

QVariant ErrorTableModel::findingCell(const Finding& f, int row, int column, int role) const {
    if (role == Qt::ToolTipRole) return QString::fromStdString(findingTipText(f.kind, f.cause));
    switch (column) {
        case kKindColumn:
            return role == kSortRole ? QVariant(int(f.kind))
                                     : QString::fromStdString(findingKindText(f.kind));
        case 2:
            if (role == kSortRole) return (uint(f.stream) << 8) | f.substream;
            return QString::fromStdString(findingStreamText(f.stream, f.substream));
        case 7:
            if (role == kSortRole) return qlonglong{f.timeFrom};
            return QString::fromStdString(findingWhenText(f));
        case kActionColumn:
            return {};
        default:
            break;
    }
    if (role == kSortRole) {
        if (column == 0) return qlonglong{row};
        if (column == kOffsetColumn) return qlonglong(f.begin);
        if (column == kLengthColumn) return qlonglong(f.end - f.begin);
        return {};
    }
    return QString::fromStdString(groupDigits(grid_.cell(row, column)));
}

QVariant ErrorTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() + 1 >= grid_.rowCount()) return {};
    const bool roleShown = role == Qt::DisplayRole || role == Qt::ToolTipRole || role == kSortRole;
    if (const Finding* finding = grid_.rowFinding(index.row() + 1)) {
        return roleShown ? findingCell(*finding, index.row() + 1, index.column(), role)
                         : QVariant();
    }
    if (index.column() == kKindColumn) {
        if (!roleShown || !grid_.rowUsed(index.row() + 1)) return {};
        if (role == kSortRole) return int(FindingKind::BrokenBlock);
        return QString::fromStdString(role == Qt::ToolTipRole
                                          ? findingTipText(FindingKind::BrokenBlock)
                                          : findingKindText(FindingKind::BrokenBlock));
    }
    if (index.column() == kActionColumn) {
        // An action runs longer than its column at most window widths.
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == kSortRole)
            return actionText(index.row());
        return {};
    }
    if (role != kSortRole && role != Qt::DisplayRole) return {};
    // A block the automatic repair made sound keeps the sizes it was found
    // with: the table's entry now describes the repaired block.
    if (index.column() >= 5) {
        const BlockRecord* record = grid_.rowRecord(index.row() + 1);
        const std::optional<BlockRepair> repair = repairOf(index.row());
        if (record != nullptr && repair && record->broken != kBrokenListed)
            return repairedCell(*repair, index.column(), role);
    }
    if (role == kSortRole) return sortValue(grid_, index.row() + 1, index.column());
    const std::string text = grid_.cell(index.row() + 1, index.column());
    if (groupedColumn(index.column())) return QString::fromStdString(groupSigned(text));
    return QString::fromStdString(text);
}

QVariant ErrorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    if (section == kActionColumn) return tr("действие");
    if (section == kKindColumn) return tr("вид");
    return QString::fromUtf8(errorListHeader(section));
}

void ErrorTableModel::sync(int changedFrom) {
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
    changedFrom = std::max(changedFrom, 0);
    if (changedFrom < shownRows_)
        emit dataChanged(index(changedFrom, 0), index(shownRows_ - 1, kKindColumn));
}

void ErrorTableModel::showRepairs(const RepairLog* repairs) {
    repairs_ = repairs;
    if (shownRows_ > 0)
        emit dataChanged(index(0, kActionColumn), index(shownRows_ - 1, kActionColumn));
}

ErrorRowsShown::ErrorRowsShown(const ErrorGrid& grid, ErrorTableModel* rows, QObject* parent)
    : QSortFilterProxyModel(parent), grid_(grid) {
    setSourceModel(rows);
    setSortRole(kSortRole);
}

void ErrorRowsShown::setRowFilter(std::optional<RowFilter> filter) {
    if (filter && filter->empty()) filter.reset();
    filter_ = std::move(filter);
    invalidateFilter();
}

bool ErrorRowsShown::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    if (!filter_) return true;
    const int row = sourceRow + 1;
    if (row >= grid_.rowCount()) return false;
    if (const Finding* finding = grid_.rowFinding(row)) return filter_->accepts(*finding);
    const BlockRecord* record = grid_.rowRecord(row);
    return record != nullptr && filter_->accepts(*record, grid_.rowResolved(row));
}

int ErrorRowsShown::gridRow(int shownRow) const {
    if (shownRow < 0 || shownRow >= rowCount()) return -1;
    return mapToSource(index(shownRow, 0)).row() + 1;
}

int ErrorRowsShown::shownRow(int gridRow) const {
    const QModelIndex at = mapFromSource(sourceModel()->index(gridRow - 1, 0));
    return at.isValid() ? at.row() : -1;
}

int ErrorRowsShown::blocksListed() const {
    // Only the sole data row can be unused: the empty list's.
    const int rows = grid_.rowCount() - 1;
    return rows == 1 && !grid_.rowUsed(1) ? 0 : rows;
}

int ErrorRowsShown::blocksShown() const {
    // A filter passes only rows that name a block.
    return filter_ ? rowCount() : blocksListed();
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
