#include "dialogs/optionsdialog.h"
#include "platform/fakes/fakehostresolver.h"
#include "platform/fakes/faketimeservice.h"
#include "tests/support/windowrig.h"

#include <QAccessible>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

// The main window over fakes, as the program starts it, with these servers stored.
struct Harness : WindowRig
{
    explicit Harness(const QStringList& servers = {}) : WindowRig(storedServers(servers)) {}
    QTableView* grid() { return control<QTableView>(&window, "MSFlexGridNtp"); }
    QString status(int row) { return grid()->model()->index(row, 1).data().toString(); }
    // The headings a screen reader finds over the list.
    int readableHeadings()
    {
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(grid());
        int headings = 0;
        for (int i = 0; i < list->childCount(); ++i)
            headings += list->child(i)->role() == QAccessible::ColumnHeader ? 1 : 0;
        return headings;
    }
    void clickRow(int row)
    {
        window.show();
        const QRect cell = grid()->visualRect(grid()->model()->index(row, 0));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, cell.center());
    }
};

const QStringList Three = {"a.example", "b.example", "c.example"};

} // namespace

Q_DECLARE_METATYPE(ostrelle::TimeServiceState)

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void shouldStartEmptyWithoutHeadingAndSendNothing()
    {
        Harness h;
        QCOMPARE(h.grid()->model()->rowCount(), 0);
        QVERIFY(h.grid()->horizontalHeader()->isHidden());
        QCOMPARE(h.readableHeadings(), 0);
        QStringList labels;
        for (const char* name : {"LabelPoll", "LabelSync", "LabelAdjust"})
            labels << control<QLabel>(&h.window, name)->text();
        QCOMPARE(labels, (QStringList{"-", "None", "None"}));
        QVERIFY(h.channel.connectedHosts.isEmpty());
        QCOMPARE(h.monitor().cycle().countdown(), 60);
    }

    void shouldTakeTheFirstPollStepWhileLoading()
    {
        Harness h({"ntp1.example", "ntp2.example"});
        QCOMPARE(h.channel.connectedHosts, QStringList{"ntp1.example"});
        QCOMPARE(QStringList({h.status(0), h.status(1)}), QStringList({"Polling", "Wait"}));
        // The heading row appears with the first server, and every heading fits its column.
        const QHeaderView* header = h.grid()->horizontalHeader();
        QVERIFY(!header->isHidden());
        for (int col = 0; col < header->count(); ++col)
            QCOMPARE_LE(header->sectionSizeHint(col), header->sectionSize(col));

        // With the system's resolver, the very first step already asks the name's address.
        Fakes pool(Fakes::storedServers({"pool.example"}));
        FakeHostResolver resolver;
        resolver.add(QStringLiteral("pool.example"), {QHostAddress(QStringLiteral("127.0.0.5"))});
        MainWindow window(pool.clock, pool.backend, pool.channel, pool.messages, &resolver);
        QTRY_COMPARE(pool.channel.connectedHosts, QStringList{"127.0.0.5"});
    }

    void shouldRemoveOnlyTheRowTheOperatorSelected_data()
    {
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<int>("clicked"); // -1: none
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QString>("storedCount");
        QTest::newRow("middle of three") << Three << 1 << QStringList{Three[0], Three[2]} << " 2";
        QTest::newRow("first of three") << Three << 0 << QStringList{Three[1], Three[2]} << " 2";
        QTest::newRow("only server empties the list") << QStringList{Three[0]} << 0 << QStringList{} << "-1";
        QTest::newRow("nothing selected") << Three << -1 << Three << " 3";
    }
    void shouldRemoveOnlyTheRowTheOperatorSelected()
    {
        QFETCH(QStringList, servers);
        QFETCH(int, clicked);
        QFETCH(QStringList, remaining);
        Harness h(servers);
        if (clicked >= 0)
            h.clickRow(clicked);
        click(&h.window, "CommandRemove");
        QTEST(h.storedText("NtpServerCnt"), "storedCount");
        QCOMPARE(h.monitor().servers().names(), remaining);
        QCOMPARE(h.grid()->horizontalHeader()->isHidden(), remaining.isEmpty());
        QCOMPARE(h.readableHeadings(), remaining.isEmpty() ? 0 : ServerListModel::Columns);
        // The removed row's selection is gone: a second Remove does nothing.
        click(&h.window, "CommandRemove");
        QCOMPARE(h.monitor().servers().names(), remaining);
    }

    void shouldAskBeforeClearingAll_data()
    {
        QTest::addColumn<MessageDialog::Button>("answer");
        QTest::addColumn<QStringList>("remaining");
        QTest::newRow("yes empties and saves") << MessageDialog::Button::Yes << QStringList{};
        QTest::newRow("no changes nothing") << MessageDialog::Button::No << Three;
    }
    void shouldAskBeforeClearingAll()
    {
        QFETCH(MessageDialog::Button, answer);
        QFETCH(QStringList, remaining);
        Harness h(Three);
        h.messages.answers = {answer};
        click(&h.window, "CommandClear");
        QCOMPARE(h.messages.shown.size(), 1);
        const auto& asked = h.messages.shown.first();
        QCOMPARE(asked.text + " / " + asked.title, "Clear All Servers ? / Brevikon Ostrelle");
        QCOMPARE(asked.buttons, MessageDialog::Buttons::YesNo);
        QCOMPARE(asked.defaultButton, MessageDialog::Button::Yes);
        QCOMPARE(h.storedNames(), remaining);
        QCOMPARE(h.nothingSaved(), !remaining.isEmpty());
        QCOMPARE(h.grid()->horizontalHeader()->isHidden(), remaining.isEmpty());
        QVERIFY(!h.channel.isOpen || !remaining.isEmpty());
    }

    void shouldKeepTheOperatorsRowWhilePolling()
    {
        Harness h(Three);
        h.clickRow(0);
        // Row 0 times out and row 1 is polled: neither may take the operator's choice away.
        for (int tick = 0; tick < PollCycle::TicksToAnswer; ++tick)
            h.monitor().cycle().tick();
        QCOMPARE(h.status(0), "Timedout");
        click(&h.window, "CommandRemove");
        QCOMPARE(h.storedNames(), (QStringList{Three[1], Three[2]}));
    }

    void shouldKeepASelectedRedRowRecognisable_data()
    {
        QTest::addColumn<bool>("red");
        QTest::newRow("red row") << true;
        QTest::newRow("healthy row") << false;
    }

    void shouldKeepASelectedRedRowRecognisable()
    {
        QFETCH(bool, red);
        Harness h(Three);
        if (red)
            h.monitor().servers().setTimedOut(1, {});
        h.clickRow(1);
        const QRect cell = h.grid()->visualRect(h.grid()->model()->index(1, 0));
        const QImage image = h.grid()->viewport()->grab().toImage();
        // The first cell's left edge, inside the grid line.
        const QColor edge = image.pixelColor(cell.left() + 1, cell.center().y());
        QCOMPARE(edge == QColor(Qt::red), red);
        // The selection still shows beside the mark.
        const QColor beside = image.pixelColor(cell.center().x() + cell.width() / 3, cell.top() + 2);
        QVERIFY(beside != h.grid()->palette().color(QPalette::Base));
    }

    void shouldFitColumnsBesideTheVerticalScrollBar()
    {
        QStringList many;
        for (int i = 0; i < 40; ++i)
            many << QStringLiteral("ntp%1.example").arg(i);
        Harness h(many);
        const QSize fixed = h.window.size();
        h.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.window));
        QTableView* grid = h.grid();
        QVERIFY(grid->verticalScrollBar()->isVisible());
        QCOMPARE(grid->horizontalScrollBar()->maximum(), 0);
        QVERIFY(grid->horizontalHeader()->length() <= grid->viewport()->width());
        QCOMPARE(h.window.size(), fixed);
    }

    // While another service may undo a step, Options says so at clock adjustment, and, with
    // adjustment on, so does the "Synchronised to:" tooltip; each asks the service afresh.
    void shouldSayWhenAnotherServiceMayUndoTheStep_data()
    {
        QTest::addColumn<bool>("adjusting");
        QTest::addColumn<bool>("serviceRunning");
        QTest::newRow("adjusting, service running") << true << true;
        QTest::newRow("adjusting, service stopped") << true << false;
        QTest::newRow("not adjusting, service running") << false << true;
    }
    void shouldSayWhenAnotherServiceMayUndoTheStep()
    {
        QFETCH(bool, adjusting);
        QFETCH(bool, serviceRunning);
        const QString note =
            "Windows Time (W32Time) is running and synchronises the clock (type NTP); it may "
            "undo a change made here.";
        WindowRig h({adjusting ? "SysTimeAdj= 1" : "SysTimeAdj= 0"});
        FakeTimeService service;
        service.current = TimeServiceState{QStringLiteral("Windows Time (W32Time)"), serviceRunning,
                                           QStringLiteral("NTP"), true};
        h.window.setTimeService(service);
        const auto* synchronisedTo = control<QLabel>(&h.window, "LabelSync");
        QCOMPARE(synchronisedTo->toolTip(), adjusting && serviceRunning ? note : QString());

        click(&h.window, "CommandOptions");
        auto* options = h.window.findChild<OptionsDialog*>();
        QCOMPARE(control<QCheckBox>(options, "CheckAdj")->toolTip(), serviceRunning ? note : QString());
        // Switching adjustment over in Options changes the tooltip at once.
        control<QCheckBox>(options, "CheckAdj")->setChecked(!adjusting);
        click(options, "Command1");
        QCOMPARE(synchronisedTo->toolTip(), !adjusting && serviceRunning ? note : QString());

        service.current.running = !serviceRunning;
        click(&h.window, "CommandOptions");
        QCOMPARE(control<QCheckBox>(options, "CheckAdj")->toolTip(), serviceRunning ? QString() : note);
    }

    // Switching adjustment on offers to take the clock from a service that holds it (one the
    // system defers to, or one that would undo the step), and only when it can be switched;
    // switching it off offers to give the clock back.
    void shouldOfferToTakeTheClockOnlyFromAServiceThatHoldsIt_data()
    {
        QTest::addColumn<TimeServiceState>("service");
        QTest::addColumn<bool>("adjusting"); // before Options
        QTest::addColumn<QList<bool>>("switches");
        TimeServiceState timedated;
        timedated.keepsClock = true;
        timedated.canHandOver = true;
        TimeServiceState free;
        free.canHandOver = true;
        TimeServiceState w32time{QStringLiteral("Windows Time (W32Time)"), true, QStringLiteral("NTP"), true};
        w32time.canHandOver = true;
        QTest::newRow("the system defers to it") << timedated << false << QList<bool>{false};
        QTest::newRow("it would undo the step") << w32time << false << QList<bool>{false};
        timedated.canHandOver = false;
        QTest::newRow("it cannot be switched") << timedated << false << QList<bool>{};
        QTest::newRow("nothing holds the clock") << free << false << QList<bool>{};
        QTest::newRow("adjustment off gives it back") << free << true << QList<bool>{true};
    }
    void shouldOfferToTakeTheClockOnlyFromAServiceThatHoldsIt()
    {
        QFETCH(TimeServiceState, service);
        QFETCH(bool, adjusting);
        QFETCH(QList<bool>, switches);
        WindowRig h({adjusting ? "SysTimeAdj= 1" : "SysTimeAdj= 0"});
        FakeTimeService timeService;
        timeService.current = service;
        h.window.setTimeService(timeService);
        h.messages.answers = {MessageDialog::Button::Yes};
        click(&h.window, "CommandOptions");
        auto* options = h.window.findChild<OptionsDialog*>();
        control<QCheckBox>(options, "CheckAdj")->setChecked(!adjusting);
        click(options, "Command1");
        QCOMPARE(timeService.switches, switches);
        QCOMPARE(h.messages.shown.size(), switches.size());
        QCOMPARE(h.monitor().settings().adjustClock, !adjusting);
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
