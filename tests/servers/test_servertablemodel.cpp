#include "servers/servertablemodel.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QSignalSpy>
#include <QTest>

using namespace ostrelle;

namespace {

void addThreeServers(ServerTable& table)
{
    for (const char* name : {"alpha", "bravo", "charlie"})
        table.AddServerRow(QString::fromLatin1(name));
}

} // namespace

class TestServerTableModel : public QObject
{
    Q_OBJECT

private slots:
    void shouldStayConsistentAndShowHeaderOnlyWhileHeadingRowExists()
    {
        ServerTable table;
        ServerTableModel model(table);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy headerSpy(&model, &QAbstractItemModel::headerDataChanged);
        QVERIFY(!model.headerData(0, Qt::Horizontal).isValid());

        addThreeServers(table);
        QCOMPARE(headerSpy.count(), 1);
        QCOMPARE(model.headerData(ServerTable::ColReferenceTime, Qt::Horizontal).toString(),
                 QStringLiteral("Reference Time (UTC)"));
        table.RemoveItem(2);
        QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("charlie"));
        QCOMPARE(model.tableRow(model.index(1, 0)), 2);
        QCOMPARE(model.indexForTableRow(2, 7), model.index(1, 7));
        QCOMPARE(model.index(1, 7).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));

        table.Clear();
        table.RemoveAllRows();
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(!model.headerData(0, Qt::Horizontal).isValid());
        table.AddServerRow(QStringLiteral("delta"));
        table.RemoveItem(1);
        QCOMPARE(model.rowCount(), 0);
    }

    void shouldReportExactChangedRangesAndPaintRedRowsRed()
    {
        ServerTable table;
        ServerTableModel model(table);
        addThreeServers(table);
        QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
        table.setTextMatrix(2, ServerTable::ColRoundTrip, QStringLiteral("0.100"));
        table.setTextMatrix(1, ServerTable::ColServer, QStringLiteral("alpha")); // unchanged: no signal
        table.setRowColour(3, ServerTable::ColourRed);
        QCOMPARE(model.index(2, 0).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
        QVERIFY(!model.index(1, 0).data(Qt::ForegroundRole).isValid());
        table.Clear();

        QList<QList<int>> ranges; // top row, left column, bottom row, right column
        for (const QList<QVariant>& signal : spy) {
            const auto from = signal.at(0).value<QModelIndex>(), to = signal.at(1).value<QModelIndex>();
            ranges.append({from.row(), from.column(), to.row(), to.column()});
        }
        QCOMPARE(ranges,
                 QList<QList<int>>({{1, 6, 1, 6}, {2, 0, 2, 7}, {0, 0, 0, 7}, {1, 0, 1, 7}, {2, 0, 2, 7}}));
    }
};

QTEST_GUILESS_MAIN(TestServerTableModel)
#include "test_servertablemodel.moc"
