#include "history/historyexport.h"
#include "history/historyrecorder.h"
#include "tests/support/windowrig.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QTableView>
#include <QTemporaryDir>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

const QStringList Three = {"a.example", "b.example", "c.example"};

// The main window over fakes with its history in a temporary folder.
struct Harness : WindowRig
{
    explicit Harness(const QString& databasePath, const QStringList& servers = Three)
        : WindowRig(storedServers(servers)), recorder(databasePath)
    {
        window.setHistoryRecorder(recorder);
        window.setSaveFileChooser([this](QWidget*, const QString&) { return saveAs; });
        window.show();
    }
    QTableView* grid() { return control<QTableView>(&window, "MSFlexGridNtp"); }
    QPoint cellCentre(int row) { return grid()->visualRect(grid()->model()->index(row, 0)).center(); }
    QAction* menuAction(int row, const QString& name)
    {
        emit grid()->customContextMenuRequested(cellCentre(row));
        const QList<QMenu*> menus = window.findChildren<QMenu*>("ServerMenu");
        return menus.isEmpty() ? nullptr : menus.last()->findChild<QAction*>(name);
    }
    void tick(int times)
    {
        for (int i = 0; i < times; ++i)
            monitor().cycle().tick();
    }
    QList<ServerHistoryWindow*> historyWindows() { return window.findChildren<ServerHistoryWindow*>(); }

    HistoryRecorder recorder;
    QString saveAs;
};

HistorySample sample(const QString& server, int second, PollOutcome outcome = PollOutcome::Answered)
{
    HistorySample s;
    s.time = HistoryTime(std::chrono::seconds(1'800'000'000 + second));
    s.server = server;
    s.outcome = outcome;
    s.stratum = 2;
    s.offset = 0.001 * second;
    s.roundTrip = 0.02;
    return s;
}

} // namespace

class TestMainWindowHistory : public QObject
{
    Q_OBJECT

private slots:
    void shouldOpenOneWindowPerServerFromTheRow_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("double-click") << "double-click";
        QTest::newRow("Enter") << "Enter";
        QTest::newRow("context menu") << "menu";
    }

    void shouldOpenOneWindowPerServerFromTheRow()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        Harness h(dir.filePath("history.sqlite"));
        const auto open = [&](int row) {
            if (how == "double-click") {
                // As the mouse makes it: a click, then the second press that the view sees as double.
                QTest::mouseClick(h.grid()->viewport(), Qt::LeftButton, {}, h.cellCentre(row));
                QTest::mouseDClick(h.grid()->viewport(), Qt::LeftButton, {}, h.cellCentre(row));
            } else if (how == "Enter") {
                h.grid()->setCurrentIndex(h.grid()->model()->index(row, 0));
                QTest::keyClick(h.grid(), Qt::Key_Return);
            } else {
                QAction* history = h.menuAction(row, "ServerMenuHistory");
                QVERIFY(history && history->isEnabled());
                history->trigger();
            }
        };
        open(1);
        QCOMPARE(h.historyWindows().size(), 1);
        ServerHistoryWindow* first = h.historyWindows().first();
        QCOMPARE(first->server(), QString("b.example"));
        QCOMPARE(first->windowTitle(), QString("b.example"));
        QVERIFY(first->isVisible());
        QVERIFY(!first->isModal());

        // The same server again raises its window; another server gets its own.
        open(1);
        QCOMPARE(h.historyWindows().size(), 1);
        open(2);
        QStringList servers;
        for (ServerHistoryWindow* w : h.historyWindows())
            servers << w->server();
        servers.sort();
        QCOMPARE(servers, (QStringList{"b.example", "c.example"}));
    }

    void shouldOfferOnlyExportBelowTheRows()
    {
        QTemporaryDir dir;
        Harness h(dir.filePath("history.sqlite"), {"a.example"});
        const QPoint below(h.cellCentre(0).x(), h.grid()->viewport()->height() - 2);
        emit h.grid()->customContextMenuRequested(below);
        auto* menu = h.window.findChild<QMenu*>("ServerMenu");
        QVERIFY(menu);
        QVERIFY(!menu->findChild<QAction*>("ServerMenuHistory")->isEnabled());
        QVERIFY(menu->findChild<QAction*>("ServerMenuExport")->isEnabled());
    }

    void shouldRecordEveryPollStepAndEndThePass()
    {
        QTemporaryDir dir;
        Harness h(dir.filePath("history.sqlite"));
        // Nobody answers: each server times out after its ten ticks, and the third ends the pass.
        h.tick(3 * PollCycle::TicksToAnswer);
        h.recorder.waitForWrites();
        HistoryStore* store = h.recorder.reader();
        QCOMPARE(store->servers(), Three);
        for (const QString& server : Three) {
            const QList<HistorySample> kept = store->lastSamples(server, 10);
            QCOMPARE(kept.size(), 1);
            QCOMPARE(kept.first().outcome, PollOutcome::TimedOut);
        }
        QVERIFY(h.messages.shown.isEmpty());
    }

    void shouldTellOnceWhenHistoryFailsAndKeepPolling()
    {
        QTemporaryDir dir;
        // A regular file where the database's folder should be: the database cannot be made.
        QFile blocker(dir.filePath("taken"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Harness h(dir.filePath("taken/history.sqlite"));
        h.tick(3 * PollCycle::TicksToAnswer);
        h.recorder.waitForWrites();
        QTRY_COMPARE(h.messages.shown.size(), 1);
        QCOMPARE(h.messages.shown.first().title, QString("Brevikon Ostrelle"));
        QVERIFY2(h.messages.shown.first().text.contains("taken"), qPrintable(h.messages.shown.first().text));
        // The next pass starts on time and fails no louder.
        const qsizetype polled = h.channel.connectedHosts.size();
        h.tick(h.monitor().settings().pollIntervalSeconds + 3 * PollCycle::TicksToAnswer);
        QTest::qWait(50);
        QCOMPARE(h.messages.shown.size(), 1);
        QCOMPARE(h.channel.connectedHosts.size(), polled + 3);
    }

    void shouldExportEveryServerToTheChosenFile()
    {
        QTemporaryDir dir;
        Harness h(dir.filePath("history.sqlite"), {"a.example"});
        for (int second = 0; second < 3; ++second) {
            h.recorder.record(sample("a.example", second));
            h.recorder.record(sample("lab, rack \"3\"", second, PollOutcome::TimedOut));
        }
        h.saveAs = dir.filePath("all.csv");
        QAction* exportAll = h.menuAction(0, "ServerMenuExport");
        QVERIFY(exportAll);
        exportAll->trigger();
        QVERIFY(h.window.historyExport()->isRunning());
        h.window.historyExport()->wait();

        QFile file(h.saveAs);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n");
        // A header, six samples, and nothing after the last line end.
        QCOMPARE(lines.size(), 8);
        QVERIFY(lines.last().isEmpty());
        QCOMPARE(lines.filter("a.example,answered").size(), 3);
        QCOMPARE(lines.filter("\"lab, rack \"\"3\"\"\",timed out").size(), 3);
        QVERIFY(h.messages.shown.isEmpty());
    }

    void shouldSayWhenTheExportCannotBeWritten()
    {
        QTemporaryDir dir;
        Harness h(dir.filePath("history.sqlite"), {"a.example"});
        h.recorder.record(sample("a.example", 0));
        h.saveAs = dir.filePath("missing/folder/all.csv");
        h.window.exportAllHistory();
        h.window.historyExport()->wait();
        QCOMPARE(h.messages.shown.size(), 1);
        QVERIFY(h.messages.shown.first().text.contains("all.csv"));
        QVERIFY(!QFile::exists(h.saveAs));
    }
};

QTEST_MAIN(TestMainWindowHistory)
#include "test_mainwindowhistory.moc"
