#include "app/form1.h"
#include "tests/dialogs/monitorrig.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableView>

using namespace ostrelle;

namespace {

// What an earlier run leaves in the store for these servers.
QStringList storedServers(const QStringList& names)
{
    QStringList pairs;
    for (int i = 0; i < names.size(); ++i)
        pairs << ServerKey(i + 1) + '=' + names[i];
    return names.isEmpty() ? pairs : pairs << QStringLiteral("NtpServerCnt= %1").arg(names.size());
}

// The main window over fakes, as the program starts it.
struct Harness : Fakes
{
    explicit Harness(const QStringList& servers = {}) : Fakes(storedServers(servers)) {}
    QTableView* grid() { return control<QTableView>(&window, "MSFlexGridNtp"); }
    ServerTable& table() { return window.monitor().table(); }
    void clickRow(int tableRow)
    {
        window.show();
        const QRect cell = grid()->visualRect(grid()->model()->index(tableRow - 1, 0));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, cell.center());
    }

    Form1 window{clock, backend, channel, messages};
};

const QStringList Three = {"a.example", "b.example", "c.example"};

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void shouldStartEmptyWithoutHeadingAndSendNothing()
    {
        Harness h;
        QCOMPARE(h.grid()->model()->rowCount(), 0);
        QVERIFY(h.grid()->horizontalHeader()->isHidden());
        QStringList labels;
        for (const char* name : {"LabelPoll", "LabelSync", "LabelAdjust"})
            labels << control<QLabel>(&h.window, name)->text();
        QCOMPARE(labels, (QStringList{"-", "None", "None"}));
        QVERIFY(h.channel.connectedHosts.isEmpty());
        QVERIFY(h.channel.sent.isEmpty());
        QCOMPARE(h.window.monitor().cycle().PollCountdown(), 60);
    }

    void shouldTakeTheFirstPollStepWhileLoading()
    {
        Harness h({"ntp1.example", "ntp2.example"});
        QCOMPARE(h.channel.connectedHosts, QStringList{"ntp1.example"});
        QCOMPARE(h.grid()->model()->rowCount(), 2);
        QCOMPARE(h.table().TextMatrix(1, ServerTable::ColStatus), "Polling");
        QCOMPARE(h.table().TextMatrix(2, ServerTable::ColStatus), "Wait");
        // The heading row appears with the first server, and every heading fits its column.
        const QHeaderView* header = h.grid()->horizontalHeader();
        QVERIFY(!header->isHidden());
        for (int col = 0; col < ServerTable::ColumnCount; ++col)
            QCOMPARE_LE(header->sectionSizeHint(col), header->sectionSize(col));
    }

    void shouldRemoveTheRowTheOperatorClicked_data()
    {
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<int>("clicked");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QString>("storedCount");
        QTest::newRow("middle of three") << Three << 2 << QStringList{Three[0], Three[2]} << " 2";
        QTest::newRow("first of three") << Three << 1 << QStringList{Three[1], Three[2]} << " 2";
        QTest::newRow("only server empties the table") << QStringList{Three[0]} << 1 << QStringList{} << "-1";
        QTest::newRow("none in an empty table") << QStringList{} << 0 << QStringList{} << "<absent>";
    }

    void shouldRemoveTheRowTheOperatorClicked()
    {
        QFETCH(QStringList, servers);
        QFETCH(int, clicked);
        QFETCH(QStringList, remaining);
        Harness h(servers);
        if (clicked > 0)
            h.clickRow(clicked);
        QCOMPARE(h.table().Row(), clicked);

        click(&h.window, "CommandRemove");
        QTEST(h.storedText("NtpServerCnt"), "storedCount");
        QCOMPARE(h.storedNames(), remaining);
        QCOMPARE(h.grid()->horizontalHeader()->isHidden(), remaining.isEmpty());
    }

    void shouldAskBeforeClearingAll_data()
    {
        QTest::addColumn<MessageDialog::Button>("answer");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QString>("storedCount");
        QTest::newRow("yes empties and saves") << MessageDialog::Button::Yes << QStringList{} << "-1";
        QTest::newRow("no changes nothing") << MessageDialog::Button::No << Three << " 3";
    }

    void shouldAskBeforeClearingAll()
    {
        QFETCH(MessageDialog::Button, answer);
        QFETCH(QStringList, remaining);
        Harness h(Three);
        const int commitsBefore = h.backend.commitCount;
        h.messages.answers = {answer};

        click(&h.window, "CommandClear");
        QCOMPARE(h.messages.shown.size(), 1);
        const auto& asked = h.messages.shown.first();
        QCOMPARE(asked.text, "Clear All Servers ?");
        QCOMPARE(asked.title, "Brevikon Ostrelle");
        QCOMPARE(asked.icon, MessageDialog::Icon::None);
        QCOMPARE(asked.buttons, MessageDialog::Buttons::YesNo);
        QCOMPARE(asked.defaultButton, MessageDialog::Button::Yes);
        QTEST(h.storedText("NtpServerCnt"), "storedCount");
        QCOMPARE(h.backend.commitCount, commitsBefore + (remaining.isEmpty() ? 1 : 0));
        QCOMPARE(h.grid()->horizontalHeader()->isHidden(), remaining.isEmpty());
    }

    void shouldKeepTheOperatorsRowWhilePolling()
    {
        Harness h(Three);
        h.clickRow(1);
        // Row 1 times out and row 2 is polled: neither may take the operator's choice away.
        for (int tick = 0; tick < PollCycle::TicksToAnswer; ++tick)
            h.window.monitor().cycle().TimerTimeout_Timer();
        QCOMPARE(h.table().TextMatrix(1, ServerTable::ColStatus), "Timedout");
        QCOMPARE(h.table().Row(), 1);
        QCOMPARE(h.grid()->selectionModel()->selectedRows().value(0).row(), 0);

        click(&h.window, "CommandRemove");
        QCOMPARE(h.storedNames(), (QStringList{Three[1], Three[2]}));
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
