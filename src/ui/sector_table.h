// The faulty sectors of a video CD rip on screen: a table model over the
// rows the last scan's sector walk found. A rip read from a scratched disc
// can hold thousands of them, so the view asks for the rows it shows and no
// widget is made per row. The model keeps its own copy of the rows, taken
// once the scan has ended: the jobs that follow write the state, never it.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "stream/cdxa.h"

namespace mpg::ui {

class SectorTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    // The sector's number in the file, its disc address mm:ss:ff, what went
    // wrong with it, where its bytes start in the stream and how many they
    // are (none for sectors lost from the rip).
    enum Column { SectorColumn, AddressColumn, FaultColumn, StreamColumn, BytesColumn, kColumns };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The rows shown anew: a scan's, or none.
    void setRows(SectorFaultList rows);
    const SectorFaultList& rows() const { return rows_; }
    // The fault texts and titles in the current language.
    void retranslate();

  private:
    SectorFaultList rows_;
};

}  // namespace mpg::ui
