#include "servers/servertable.h"

namespace ostrelle {

const std::array<QString, ServerTable::ColumnCount>& ServerTable::Headings()
{
    static const std::array<QString, ColumnCount> headings = {
        QStringLiteral("Server"),     QStringLiteral("Status"),    QStringLiteral("Version"),
        QStringLiteral("Stratum"),    QStringLiteral("Reference"), QStringLiteral("Reference Time (UTC)"),
        QStringLiteral("Round-Trip"), QStringLiteral("Offset"),
    };
    return headings;
}

int ServerTable::Rows() const
{
    return static_cast<int>(m_rows.size());
}

void ServerTable::RemoveAllRows()
{
    if (m_rows.isEmpty())
        return;
    if (m_observer)
        m_observer->rowsAboutToBeRemoved(0, Rows() - 1);
    m_rows.clear();
    if (m_observer)
        m_observer->rowsRemoved();
    moveCurrentRow(0);
}

void ServerTable::Clear()
{
    for (int row = 0; row < Rows(); ++row) {
        bool changed = false;
        for (Cell& cell : m_rows[row]) {
            changed = changed || !cell.text.isEmpty();
            cell.text.clear();
        }
        if (changed && m_observer)
            m_observer->cellsChanged(row, 0, ColumnCount - 1);
    }
}

void ServerTable::RemoveItem(int row)
{
    if (!isServerRow(row))
        return;
    if (m_observer)
        m_observer->rowsAboutToBeRemoved(row, row);
    m_rows.removeAt(row);
    if (m_observer)
        m_observer->rowsRemoved();
    if (m_currentRow == row)
        moveCurrentRow(0);
    else if (m_currentRow > row)
        moveCurrentRow(m_currentRow - 1);
}

QString ServerTable::TextMatrix(int row, int col) const
{
    if (!isCell(row, col))
        return {};
    return m_rows[row][col].text;
}

void ServerTable::setTextMatrix(int row, int col, const QString& text)
{
    if (!isCell(row, col))
        return;
    QString& cellText = m_rows[row][col].text;
    if (cellText == text)
        return;
    cellText = text;
    if (m_observer)
        m_observer->cellsChanged(row, col, col);
}

int ServerTable::cellColour(int row, int col) const
{
    return isCell(row, col) ? m_rows[row][col].colour : ColourNormal;
}

int ServerTable::cellAlignment(int row, int col) const
{
    return isCell(row, col) ? m_rows[row][col].alignment : 0;
}

void ServerTable::setRowColour(int row, int colour)
{
    if (!isServerRow(row))
        return;
    bool changed = false;
    for (Cell& cell : m_rows[row]) {
        changed = changed || cell.colour != colour;
        cell.colour = colour;
    }
    if (changed && m_observer)
        m_observer->cellsChanged(row, 0, ColumnCount - 1);
}

void ServerTable::setRow(int row)
{
    moveCurrentRow(isServerRow(row) ? row : 0);
}

int ServerTable::FixedRows() const
{
    return m_rows.isEmpty() ? 0 : 1;
}

int ServerTable::ColWidth(int col) const
{
    return col >= 0 && col < ColumnCount ? m_colWidths[col] : 0;
}

void ServerTable::setColWidth(int col, int twips)
{
    if (col >= 0 && col < ColumnCount)
        m_colWidths[col] = twips;
}

void ServerTable::AddServerRow(const QString& name)
{
    const bool makeHeading = m_rows.isEmpty();
    const int first = Rows();
    const int last = makeHeading ? 1 : first;
    if (m_observer)
        m_observer->rowsAboutToBeInserted(first, last);
    if (makeHeading) {
        RowCells heading;
        for (int col = 0; col < ColumnCount; ++col)
            heading[col].text = Headings()[col];
        m_rows.append(heading);
    }
    RowCells server;
    server[ColServer].text = name;
    server[ColStatus].text = QStringLiteral("Wait");
    m_rows.append(server);
    if (m_observer)
        m_observer->rowsInserted();
    moveCurrentRow(last);
}

void ServerTable::moveCurrentRow(int row)
{
    if (m_currentRow == row)
        return;
    m_currentRow = row;
    if (m_observer)
        m_observer->currentRowChanged(row);
}

} // namespace ostrelle
