#include "servers/servertablemodel.h"

#include <QBrush>
#include <QColor>

namespace ostrelle {

ServerTableModel::ServerTableModel(ServerTable& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table)
{
    m_table.setObserver(this);
}

ServerTableModel::~ServerTableModel()
{
    m_table.setObserver(nullptr);
}

int ServerTableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return qMax(0, m_table.Rows() - 1);
}

int ServerTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ServerTable::ColumnCount;
}

QVariant ServerTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = tableRow(index);
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return m_table.TextMatrix(row, col);
    case Qt::TextAlignmentRole:
        if (m_table.cellAlignment(row, col) == ServerTable::AlignCentre)
            return int(Qt::AlignCenter);
        return {};
    case Qt::ForegroundRole: {
        const int colour = m_table.cellColour(row, col);
        if (colour == ServerTable::ColourNormal)
            return {};
        // Packed as blue * 65536 + green * 256 + red.
        return QBrush(QColor(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff));
    }
    default:
        return {};
    }
}

QVariant ServerTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    // No heading row, no header: the view hides it for an empty table.
    if (m_table.Rows() == 0 || section < 0 || section >= ServerTable::ColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_table.TextMatrix(0, section);
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return {};
    }
}

int ServerTableModel::tableRow(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this ? index.row() + 1 : 0;
}

QModelIndex ServerTableModel::indexForTableRow(int row, int column) const
{
    if (row < 1 || row >= m_table.Rows())
        return {};
    return index(row - 1, column);
}

void ServerTableModel::rowsAboutToBeInserted(int first, int last)
{
    m_headingPending = first == 0;
    const int firstModelRow = qMax(first, 1) - 1;
    const int lastModelRow = last - 1;
    m_rowsPending = firstModelRow <= lastModelRow;
    if (m_rowsPending)
        beginInsertRows({}, firstModelRow, lastModelRow);
}

void ServerTableModel::rowsInserted()
{
    if (m_rowsPending)
        endInsertRows();
    if (m_headingPending)
        emit headerDataChanged(Qt::Horizontal, 0, ServerTable::ColumnCount - 1);
    m_rowsPending = m_headingPending = false;
}

void ServerTableModel::rowsAboutToBeRemoved(int first, int last)
{
    m_headingPending = first == 0;
    const int firstModelRow = qMax(first, 1) - 1;
    const int lastModelRow = last - 1;
    m_rowsPending = firstModelRow <= lastModelRow;
    if (m_rowsPending)
        beginRemoveRows({}, firstModelRow, lastModelRow);
}

void ServerTableModel::rowsRemoved()
{
    if (m_rowsPending)
        endRemoveRows();
    if (m_headingPending)
        emit headerDataChanged(Qt::Horizontal, 0, ServerTable::ColumnCount - 1);
    m_rowsPending = m_headingPending = false;
}

void ServerTableModel::cellsChanged(int row, int firstColumn, int lastColumn)
{
    if (row == 0)
        emit headerDataChanged(Qt::Horizontal, firstColumn, lastColumn);
    else
        emit dataChanged(index(row - 1, firstColumn), index(row - 1, lastColumn));
}

void ServerTableModel::currentRowChanged(int row)
{
    emit currentTableRowChanged(row);
}

} // namespace ostrelle
