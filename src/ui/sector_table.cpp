#include "ui/sector_table.h"

#include "text/messages.h"
#include "text/translate.h"
#include "ui/page_kit.h"

namespace mpg::ui {

namespace {

constexpr const char* kTitles[SectorTableModel::kColumns] = {
    QT_TRANSLATE_NOOP("mpg::ui::SectorTableModel", "сектор"),
    QT_TRANSLATE_NOOP("mpg::ui::SectorTableModel", "адрес"),
    QT_TRANSLATE_NOOP("mpg::ui::SectorTableModel", "сбой сектора"),
    QT_TRANSLATE_NOOP("mpg::ui::SectorTableModel", "позиция в потоке"),
    QT_TRANSLATE_NOOP("mpg::ui::SectorTableModel", "байт потока")};

}  // namespace

int SectorTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SectorTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant SectorTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const SectorFaultRow row = rows_[static_cast<size_t>(index.row())];
    // The tool tip shows a cell whole where its column is narrow.
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (index.column()) {
        case SectorColumn:
            return grouped(row.sector);
        case AddressColumn:
            return QString::fromStdString(cdAddressText(row.address));
        case FaultColumn:
            return QString::fromStdString(sectorFaultText(row));
        case StreamColumn:
            return grouped(row.streamStart);
        case BytesColumn:
            return grouped(row.streamEnd - row.streamStart);
        default:
            return {};
    }
}

QVariant SectorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kColumns) {
        return {};
    }
    return tr(kTitles[section]);
}

void SectorTableModel::setRows(SectorFaultList rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void SectorTableModel::retranslate() {
    emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
    if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
}

}  // namespace mpg::ui
