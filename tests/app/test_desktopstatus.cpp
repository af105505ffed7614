#include "app/desktopstatus.h"
#include "app/monitor.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/freedesktopnotifier.h"
#include "platform/nativeudpchannel.h"
#include "servers/serverlistmodel.h"
#include "tests/support/fakenotifications.h"
#include "tests/support/ntpresponder.h"
#include "tests/support/privatebus.h"
#include "timekeeping/ntptime.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace ostrelle;

// The desktop hears of a server through one notification of its own: when it turns red, not again
// while it stays red, and as an update of the same notification when it comes back. The real
// notifier talks to a stand-in for the desktop's service on a private bus.
class DesktopStatusTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed");
        QVERIFY2(m_bus.start(), qPrintable(m_bus.errorString()));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address().toUtf8());
    }
    void cleanup()
    {
        // Each row's own connections, so that no row finds an earlier row's service.
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("program"));
    }

    void shouldNotifyOnlyWhenAServerTurnsRedOrComesBack_data()
    {
        QTest::addColumn<bool>("serviceRuns");
        QTest::addColumn<bool>("switchedOn");
        QTest::newRow("notification service, switched on") << true << true;
        QTest::newRow("switched off in Options") << true << false;
        QTest::newRow("no notification service") << false << true;
    }
    void shouldNotifyOnlyWhenAServerTurnsRedOrComesBack()
    {
        QFETCH(bool, serviceRuns);
        QFETCH(bool, switchedOn);
        FakeNotifications service;
        const QDBusConnection desktop =
            QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("desktop"));
        if (serviceRuns)
            QVERIFY(service.registerOn(desktop));
        FreedesktopNotifier notifier(
            QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("program")));

        FakeClock clock;
        NtpResponder healthy(QHostAddress(QStringLiteral("127.0.0.2")));
        NtpResponder flaky(QHostAddress(QStringLiteral("127.0.0.3")), healthy.port());
        QVERIFY2(healthy.isListening() && flaky.isListening(), qPrintable(flaky.errorString()));
        for (NtpResponder* responder : {&healthy, &flaky})
            responder->now = [&clock] { return NowNtpSeconds(clock); };
        ServerListModel servers;
        servers.addServer(QStringLiteral("127.0.0.2"));
        servers.addServer(QStringLiteral("127.0.0.3"));
        NativeUdpChannel channel(healthy.port(), 0);
        ScriptedMessageDialog messages;
        PollCycle cycle(channel, clock, messages);
        LinkServerTable(servers, cycle);
        DesktopStatus status(cycle, servers);
        status.setNotifier(notifier);
        status.setNotifying(switchedOn);
        QSignalSpy passes(&cycle, &PollCycle::passFinished);
        // Ticks by hand: a silent server times out after its ticks, not after real seconds.
        const auto pass = [&] {
            const qsizetype before = passes.size();
            cycle.pollSoon();
            for (int tick = 0; tick < 3 * PollCycle::TicksToAnswer && passes.size() == before; ++tick) {
                cycle.tick();
                QTest::qWait(20);
            }
            QCOMPARE(passes.size(), before + 1);
        };

        flaky.silent = true;
        pass();
        pass();
        QCOMPARE(status.health(), DesktopStatus::Health::SomeRed);
        QCOMPARE(status.summary(), "2 servers, 1 red");
        flaky.silent = false;
        pass();
        QCOMPARE(status.health(), DesktopStatus::Health::Healthy);
        // Nothing is left on its way to the service.
        QTest::qWait(200);

        if (!serviceRuns || !switchedOn) {
            QVERIFY(service.calls.isEmpty());
            return;
        }
        QCOMPARE(service.calls.size(), 2);
        const FakeNotifications::Call& red = service.calls.first();
        QVERIFY(red.summary.startsWith("127.0.0.3"));
        QCOMPARE(red.replacesId, 0u);
        QCOMPARE(red.urgency, int(Notifier::Urgency::Normal));
        const FakeNotifications::Call& back = service.calls.last();
        QVERIFY(back.summary.startsWith("127.0.0.3") && back.summary != red.summary);
        QCOMPARE(back.replacesId, red.id);
    }

private:
    PrivateBus m_bus;
};

QTEST_GUILESS_MAIN(DesktopStatusTest)
#include "test_desktopstatus.moc"
