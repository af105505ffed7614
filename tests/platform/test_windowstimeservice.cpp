#include "platform/windowstimeservice.h"

#include <QTest>

using namespace ostrelle;

namespace {

using Status = WindowsTimeService::ServiceStatus;

// The service control manager's and the registry's answers, as the test gives them.
struct ScriptedSystem
{
    Status status = Status::Running;
    std::optional<QString> type;
    int typeReads = 0;

    WindowsTimeService::Probe probe()
    {
        return {[this] { return status; },
                [this] {
                    ++typeReads;
                    return type;
                }};
    }
};

} // namespace

class WindowsTimeServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldTellWhetherW32TimeMayUndoAStep_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("type"); // "-": the value is missing or unreadable
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("synchronises");
        QTest::addColumn<QString>("note");
        const QString ntp = "Windows Time (W32Time) is running and synchronises the clock (type NTP); it may "
                            "undo a change made here.";
        // clang-format off
        QTest::newRow("running, NTP")          << int(Status::Running) << "NTP"      << true  << true  << ntp;
        QTest::newRow("running, domain NT5DS") << int(Status::Running) << "NT5DS"    << true  << true
            << "Windows Time (W32Time) is running and synchronises the clock (type NT5DS); it may undo a change made here.";
        QTest::newRow("running, AllSync")      << int(Status::Running) << "AllSync"  << true  << true
            << "Windows Time (W32Time) is running and synchronises the clock (type AllSync); it may undo a change made here.";
        QTest::newRow("running, NoSync")       << int(Status::Running) << "NoSync"   << true  << false << "";
        QTest::newRow("running, nosync as typed by hand") << int(Status::Running) << "nosync" << true << false << "";
        QTest::newRow("running, type unreadable: its default synchronises")
            << int(Status::Running) << "-" << true << true
            << "Windows Time (W32Time) is running and synchronises the clock; it may undo a change made here.";
        QTest::newRow("stopped, NTP")          << int(Status::Stopped) << "NTP"      << false << true  << "";
        QTest::newRow("not installed")         << int(Status::Missing) << "NTP"      << false << false << "";
        QTest::newRow("manager would not say") << int(Status::Unknown) << "NTP"      << false << true  << "";
        // clang-format on
    }
    void shouldTellWhetherW32TimeMayUndoAStep()
    {
        QFETCH(int, status);
        QFETCH(QString, type);
        QFETCH(bool, running);
        QFETCH(bool, synchronises);
        QFETCH(QString, note);
        ScriptedSystem system;
        system.status = Status(status);
        if (type != QLatin1String("-"))
            system.type = type;
        const TimeServiceState state = WindowsTimeService(system.probe()).state();
        QCOMPARE(state.running, running);
        QCOMPARE(state.synchronises, synchronises);
        QCOMPARE(TimeServiceNote(state), note);
    }

    // Every question goes to the system again: the operator may start or stop the service.
    void shouldAskAfreshEachTime()
    {
        ScriptedSystem system;
        system.type = QStringLiteral("NTP");
        const WindowsTimeService service(system.probe());
        QVERIFY(service.state().mayUndoStep());
        system.status = Status::Stopped;
        QVERIFY(!service.state().mayUndoStep());
        system.status = Status::Running;
        system.type = QStringLiteral("NoSync");
        QVERIFY(!service.state().mayUndoStep());
        QCOMPARE(system.typeReads, 3);
    }

    // The real service control manager answers an ordinary user's question: installed or not,
    // running or not, never "would not say".
    void shouldGetAnAnswerFromTheSystem()
    {
        const WindowsTimeService::Probe system = WindowsTimeService::SystemProbe();
        QVERIFY(system.serviceStatus() != Status::Unknown);
        const std::optional<QString> type = system.syncType();
        if (type) {
            const QStringList known = {"NTP", "NT5DS", "AllSync", "NoSync"};
            QVERIFY2(known.contains(*type, Qt::CaseInsensitive), qPrintable(*type));
        }
    }
};

QTEST_GUILESS_MAIN(WindowsTimeServiceTest)
#include "test_windowstimeservice.moc"
