#pragma once

#include <QList>
#include <QString>
#include <array>

namespace ostrelle {

// Told of every change to a ServerTable, in the order a Qt item model needs (before and after).
class ServerTableObserver
{
public:
    virtual ~ServerTableObserver() = default;
    virtual void rowsAboutToBeInserted(int first, int last) = 0;
    virtual void rowsInserted() = 0;
    virtual void rowsAboutToBeRemoved(int first, int last) = 0;
    virtual void rowsRemoved() = 0;
    virtual void cellsChanged(int row, int firstColumn, int lastColumn) = 0;
    virtual void currentRowChanged(int row) = 0;
};

// The table of monitored servers, and the only server list. Row 0 is the heading row; server rows
// follow from row 1 in the order added. An empty table has no rows at all, not even the heading.
class ServerTable
{
public:
    static constexpr int ColumnCount = 8;
    enum Column {
        ColServer = 0,
        ColStatus,
        ColVersion,
        ColStratum,
        ColReference,
        ColReferenceTime,
        ColRoundTrip,
        ColOffset
    };

    static constexpr int ColourNormal = 0;
    static constexpr int ColourRed = 255;  // blue * 65536 + green * 256 + red
    static constexpr int AlignCentre = 4;

    // Column widths in twips (1/1440 inch) that the main window sets at start-up.
    static constexpr std::array<int, ColumnCount> StartupColumnTwips = {1500, 900, 800, 800, 800, 1800, 960, 870};

    static const std::array<QString, ColumnCount>& Headings();

    // Number of rows, the heading row included; 0 for an empty table.
    int Rows() const;
    // Drops every row, the heading row included.
    void RemoveAllRows();
    // Erases the text of every cell; the rows stay.
    void Clear();
    // Removes one server row (1 <= row < Rows()); the rows below move up by one. A current row
    // below it moves up with its server; when the removed row itself was current, no row is
    // current afterwards, so that Remove never acts on a row the operator did not choose.
    void RemoveItem(int row);

    // Reads outside the table give empty text and normal colour; writes outside it are ignored.
    QString TextMatrix(int row, int col) const;
    void setTextMatrix(int row, int col, const QString& text);

    int cellColour(int row, int col) const;
    int cellAlignment(int row, int col) const;
    // Gives all eight cells of a server row the colour; the current row stays where it is.
    void setRowColour(int row, int colour);

    // The operator's current row: a server row, or 0 when none is chosen.
    int Row() const { return m_currentRow; }
    // Makes a server row current (as a click does); anything else means none.
    void setRow(int row);

    // 1 once the heading row exists, else 0.
    int FixedRows() const;

    int ColWidth(int col) const;
    void setColWidth(int col, int twips);

    // Appends a server row holding name verbatim in "Server" and "Wait" in "Status", making the
    // heading row first when the table is empty. The new row becomes the current row.
    void AddServerRow(const QString& name);

    void setObserver(ServerTableObserver* observer) { m_observer = observer; }

private:
    struct Cell
    {
        QString text;
        int colour = ColourNormal;
        int alignment = AlignCentre;
    };
    using RowCells = std::array<Cell, ColumnCount>;

    bool isServerRow(int row) const { return row >= 1 && row < Rows(); }
    bool isCell(int row, int col) const { return row >= 0 && row < Rows() && col >= 0 && col < ColumnCount; }
    void moveCurrentRow(int row);

    QList<RowCells> m_rows;
    std::array<int, ColumnCount> m_colWidths{};
    int m_currentRow = 0;
    ServerTableObserver* m_observer = nullptr;
};

} // namespace ostrelle
