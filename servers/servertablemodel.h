#pragma once

#include "servers/servertable.h"

#include <QAbstractTableModel>

namespace ostrelle {

// Shows a ServerTable to a view: one model row per server row (model row i is table row i + 1),
// the heading row as the horizontal header while it exists.
class ServerTableModel final : public QAbstractTableModel, private ServerTableObserver
{
    Q_OBJECT
public:
    explicit ServerTableModel(ServerTable& table, QObject* parent = nullptr);
    ~ServerTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The table row an index shows; 0 (no server row) for an invalid index.
    int tableRow(const QModelIndex& index) const;
    // The index showing a cell of a server row; invalid for any other row.
    QModelIndex indexForTableRow(int row, int column = 0) const;

signals:
    // The table's current row moved (0: none is current).
    void currentTableRowChanged(int row);

private:
    void rowsAboutToBeInserted(int first, int last) override;
    void rowsInserted() override;
    void rowsAboutToBeRemoved(int first, int last) override;
    void rowsRemoved() override;
    void cellsChanged(int row, int firstColumn, int lastColumn) override;
    void currentRowChanged(int row) override;

    ServerTable& m_table;
    bool m_rowsPending = false;    // a begin...Rows() is open
    bool m_headingPending = false; // the change adds or drops the heading row
};

} // namespace ostrelle
