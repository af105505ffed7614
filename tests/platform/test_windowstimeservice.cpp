#include "platform/windowstimeservice.h"

#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <QUuid>

using namespace ostrelle;

namespace {

using Status = WindowsTimeService::ServiceStatus;

// The service control manager's and the registry's answers, as the test gives them.
struct ScriptedSystem
{
    Status status = Status::Running;
    std::optional<QString> type;
    std::optional<QString> kept;
    int typeReads = 0;
    QList<bool> switches;
    ElevatedClockStepper::Outcome switchOutcome{ElevatedClockStepper::Outcome::Kind::Exited, 0};

    WindowsTimeService service()
    {
        return WindowsTimeService({[this] { return status; },
                                   [this] {
                                       ++typeReads;
                                       return type;
                                   },
                                   [this] { return kept; }},
                                  [this](bool on) {
                                      switches.append(on);
                                      return switchOutcome;
                                  });
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
        QTest::addColumn<bool>("canHandOver");
        const QString ntp = "Windows Time (W32Time) is running and synchronises the clock (type NTP); it may "
                            "undo a change made here.";
        // clang-format off
        QTest::newRow("running, NTP")          << int(Status::Running) << "NTP"      << true  << true  << ntp << true;
        QTest::newRow("running, domain NT5DS") << int(Status::Running) << "NT5DS"    << true  << true
            << "Windows Time (W32Time) is running and synchronises the clock (type NT5DS); it may undo a change made here." << true;
        QTest::newRow("running, AllSync")      << int(Status::Running) << "AllSync"  << true  << true
            << "Windows Time (W32Time) is running and synchronises the clock (type AllSync); it may undo a change made here." << true;
        QTest::newRow("running, NoSync, none kept") << int(Status::Running) << "NoSync" << true << false << "" << false;
        QTest::newRow("running, NoSync, NTP kept")  << int(Status::Running) << "NoSync>NTP" << true << false << "" << true;
        QTest::newRow("running, nosync as typed by hand") << int(Status::Running) << "nosync" << true << false << "" << false;
        QTest::newRow("running, type unreadable: its default synchronises, nothing to keep")
            << int(Status::Running) << "-" << true << true
            << "Windows Time (W32Time) is running and synchronises the clock; it may undo a change made here." << false;
        QTest::newRow("stopped, NTP")          << int(Status::Stopped) << "NTP"      << false << true  << "" << false;
        QTest::newRow("not installed")         << int(Status::Missing) << "NTP"      << false << false << "" << false;
        QTest::newRow("manager would not say") << int(Status::Unknown) << "NTP"      << false << true  << "" << false;
        // clang-format on
    }
    void shouldTellWhetherW32TimeMayUndoAStep()
    {
        QFETCH(int, status);
        QFETCH(QString, type);
        QFETCH(bool, running);
        QFETCH(bool, synchronises);
        QFETCH(QString, note);
        QFETCH(bool, canHandOver);
        ScriptedSystem system;
        system.status = Status(status);
        if (type != QLatin1String("-"))
            system.type = type.section(QLatin1Char('>'), 0, 0);
        if (type.contains(QLatin1Char('>')))
            system.kept = type.section(QLatin1Char('>'), 1);
        const TimeServiceState state = system.service().state();
        QCOMPARE(state.running, running);
        QCOMPARE(state.synchronises, synchronises);
        QCOMPARE(TimeServiceNote(state), note);
        QCOMPARE(state.canHandOver, canHandOver);
        QVERIFY(!state.keepsClock); // W32Time never refuses a step made here
    }

    // The switch runs off the caller's thread (a consent prompt may wait for the operator) and
    // answers on it; a declined prompt is said as such.
    void shouldSwitchThroughTheElevatedCopy_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        using Kind = ElevatedClockStepper::Outcome::Kind;
        QTest::newRow("hand over") << false << int(Kind::Exited) << "";
        QTest::newRow("give back") << true << int(Kind::Exited) << "";
        QTest::newRow("declined") << false << int(Kind::Declined)
                                  << "The request for administrator rights was declined";
    }
    void shouldSwitchThroughTheElevatedCopy()
    {
        QFETCH(bool, on);
        QFETCH(int, kind);
        QFETCH(QString, reason);
        ScriptedSystem system;
        system.switchOutcome = {ElevatedClockStepper::Outcome::Kind(kind), kind == 0 ? 0ul : 1223ul};
        WindowsTimeService service = system.service();
        QObject context;
        QList<std::pair<bool, QString>> answers;
        service.setAutomaticSync(on, &context, [&](bool ok, const QString& why) {
            answers.append({ok, why});
        });
        QTRY_COMPARE(answers.size(), 1);
        QCOMPARE(answers.first(), std::make_pair(reason.isEmpty(), reason));
        QCOMPARE(system.switches, QList<bool>{on});
    }

    // The elevated copy's registry work, on keys of the test's own: off keeps the Type once, on
    // gives it back once.
    void shouldKeepTheTypeAndGiveItBack()
    {
        const QString folder = QStringLiteral("Software\\Brevikon\\OstrelleTest-%1")
                                   .arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
        const WindowsTimeService::TypeKeys keys{false, folder + QStringLiteral("\\Parameters"),
                                                folder + QStringLiteral("\\Kept")};
        const auto value = [](const QString& key, const QString& name) {
            return QSettings(QStringLiteral("HKEY_CURRENT_USER\\") + key, QSettings::NativeFormat)
                .value(name);
        };
        QSettings(QStringLiteral("HKEY_CURRENT_USER\\") + keys.parameters, QSettings::NativeFormat)
            .setValue(QStringLiteral("Type"), QStringLiteral("NT5DS"));
        const auto cleanUp = qScopeGuard([&] {
            QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\Brevikon"), QSettings::NativeFormat)
                .remove(folder.section(QLatin1Char('\\'), 2));
        });

        QCOMPARE(WindowsTimeService::SwitchSyncType(false, keys), 0ul);
        QCOMPARE(value(keys.parameters, "Type"), QVariant("NoSync"));
        QCOMPARE(value(keys.kept, "W32TimeTypeBeforeHandOver"), QVariant("NT5DS"));
        QCOMPARE(WindowsTimeService::SwitchSyncType(false, keys), 0ul); // off again keeps NT5DS
        QCOMPARE(value(keys.kept, "W32TimeTypeBeforeHandOver"), QVariant("NT5DS"));

        QCOMPARE(WindowsTimeService::SwitchSyncType(true, keys), 0ul);
        QCOMPARE(value(keys.parameters, "Type"), QVariant("NT5DS"));
        QVERIFY(!value(keys.kept, "W32TimeTypeBeforeHandOver").isValid());
        QVERIFY(WindowsTimeService::SwitchSyncType(true, keys) != 0ul); // nothing kept to give back
        QCOMPARE(value(keys.parameters, "Type"), QVariant("NT5DS"));
    }

    // Every question goes to the system again: the operator may start or stop the service.
    void shouldAskAfreshEachTime()
    {
        ScriptedSystem system;
        system.type = QStringLiteral("NTP");
        const WindowsTimeService service = system.service();
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
