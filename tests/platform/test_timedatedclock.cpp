#include "platform/timedatedclock.h"
#include "tests/support/faketimedated.h"
#include "tests/support/privatebus.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace ostrelle;
using namespace std::chrono_literals;

class TimedatedClockTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed");
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(m_bus->start(), qPrintable(m_bus->errorString()));
        // Anything that asks for the system bus by mistake finds the private one.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus->address().toUtf8());
        QDBusConnection service =
            QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("timedated"));
        QVERIFY2(service.isConnected(), qPrintable(service.lastError().message()));
        QVERIFY(m_timedated.registerOn(service));
    }
    void init() { m_timedated.reset(); }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("timedated"));
        for (int i = 0; i < m_clients; ++i)
            QDBusConnection::disconnectFromBus(QStringLiteral("client%1").arg(i));
        m_bus.reset();
    }

    void shouldAskForARelativeInteractiveStep_data()
    {
        QTest::addColumn<qint64>("offsetNs");
        QTest::addColumn<qlonglong>("usec");
        QTest::addColumn<QString>("errorName");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("an hour back") << qint64(-3'600'000'000'000) << -3'600'000'000LL << ""
                                      << "" << false;
        QTest::newRow("to the nearest microsecond") << qint64(-1'600) << -2LL << ""
                                                    << "" << false;
        QTest::newRow("another service keeps the clock")
            << qint64(250'000'000) << 250'000LL << "org.freedesktop.timedate1.AutomaticTimeSyncEnabled"
            << "Automatic time synchronization is enabled" << false;
        QTest::newRow("operator cancelled the password prompt")
            << qint64(250'000'000) << 250'000LL
            << "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"
            << "Interactive authentication required." << true;
        QTest::newRow("not authorised")
            << qint64(250'000'000) << 250'000LL << "org.freedesktop.DBus.Error.AccessDenied"
            << "Permission denied" << true;
    }
    void shouldAskForARelativeInteractiveStep()
    {
        QFETCH(qint64, offsetNs);
        QFETCH(qlonglong, usec);
        QFETCH(QString, errorName);
        QFETCH(QString, reason);
        QFETCH(bool, cancelled);
        m_timedated.answer =
            errorName.isEmpty() ? FakeTimedated::Answer::Success : FakeTimedated::Answer::Error;
        m_timedated.errorName = errorName;
        m_timedated.errorMessage = reason;
        TimedatedClockStepper stepper(client());
        QSignalSpy finished(&stepper, &ClockStepper::finished);

        stepper.step(std::chrono::nanoseconds(offsetNs));
        QVERIFY(stepper.busy());
        QVERIFY(finished.wait(10000));

        QCOMPARE(m_timedated.calls.size(), 1);
        const FakeTimedated::Call& call = m_timedated.calls.first();
        QCOMPARE(call.usecUtc, usec);
        QVERIFY(call.relative && call.interactive && call.interactiveFlag);
        QCOMPARE(finished, (QList<QVariantList>{{errorName.isEmpty(), reason, cancelled}}));
        QCOMPARE(stepper.declined(), cancelled);
        QVERIFY(!stepper.busy());
    }

    // After a cancelled prompt the operator is not asked again until clock adjustment is
    // switched on again.
    void shouldStopAskingOnceDeclined()
    {
        m_timedated.answer = FakeTimedated::Answer::Error;
        m_timedated.errorName = QStringLiteral("org.freedesktop.PolicyKit1.Error.Cancelled");
        m_timedated.errorMessage = QStringLiteral("Authorization request was cancelled");
        TimedatedClockStepper stepper(client());
        QSignalSpy finished(&stepper, &ClockStepper::finished);
        stepper.step(1s);
        QVERIFY(finished.wait(10000));
        QVERIFY(stepper.declined());

        stepper.step(2s);
        QCOMPARE(finished.size(), 2);
        QVERIFY(!finished.last().at(0).toBool() && finished.last().at(2).toBool());

        m_timedated.answer = FakeTimedated::Answer::Success;
        stepper.allowAsking();
        stepper.step(3s);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.last().at(0).toBool(), true);
        // Messages from one connection arrive in order: a call for the refused step would show.
        QCOMPARE(m_timedated.calls.size(), 2);
        QCOMPARE(m_timedated.calls.last().usecUtc, 3'000'000LL);
    }

    // Silence ends in a refusal after the bounded wait; the late answer is ignored, and a step
    // asked for meanwhile is refused rather than queued behind the prompt.
    void shouldGiveUpOnSilenceAndIgnoreTheLateAnswer()
    {
        m_timedated.answer = FakeTimedated::Answer::Silence;
        TimedatedClockStepper stepper(client(), 300ms);
        QSignalSpy finished(&stepper, &ClockStepper::finished);

        stepper.step(1s);
        QCOMPARE(finished.size(), 0);
        stepper.step(5s);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toBool(), false);
        QVERIFY(finished.wait(10000));
        QCOMPARE(
            finished.last(),
            (QVariantList{false, QStringLiteral("No answer from systemd-timedated within 0.3 s"), false}));
        QVERIFY(!stepper.busy());
        QCOMPARE(m_timedated.calls.size(), 1);

        m_timedated.answerLate();
        m_timedated.answer = FakeTimedated::Answer::Success;
        stepper.step(2s);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 3);
        QCOMPARE(finished.last().at(0).toBool(), true);
        QCOMPARE(m_timedated.calls.size(), 2);
    }

    // The three properties are read afresh at each ask; switching NTP asks timedated with
    // interactive authorisation, and where it cannot (no NTP service installed) says why.
    void shouldReadAndSwitchAutomaticSynchronisation_data()
    {
        QTest::addColumn<bool>("canNtp");
        QTest::addColumn<bool>("ntp");
        QTest::addColumn<bool>("synchronised");
        QTest::newRow("kept and synchronised, handed over") << true << true << true;
        QTest::newRow("kept, not yet synchronised") << true << true << false;
        QTest::newRow("handed over, given back") << true << false << false;
        QTest::newRow("no NTP service to switch") << false << false << false;
    }
    void shouldReadAndSwitchAutomaticSynchronisation()
    {
        QFETCH(bool, canNtp);
        QFETCH(bool, ntp);
        QFETCH(bool, synchronised);
        m_timedated.canNtp = canNtp;
        m_timedated.ntp = ntp;
        m_timedated.ntpSynchronized = synchronised;
        TimedatedTimeService service(client());
        QObject context;
        QList<TimeServiceState> answers;
        service.ask(&context, [&answers](const TimeServiceState& state) { answers.append(state); });
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 10000);
        const TimeServiceState& state = answers.first();
        QCOMPARE((QList<bool>{state.canHandOver, state.keepsClock, state.synchronised}),
                 (QList<bool>{canNtp, ntp, synchronised}));
        QCOMPARE(service.state().keepsClock, ntp);

        QList<QVariantList> done;
        service.setAutomaticSync(!ntp, &context, [&done](bool ok, const QString& reason) {
            done.append({ok, reason});
        });
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 10000);
        QCOMPARE(done.first().at(0).toBool(), canNtp);
        QCOMPARE(done.first().at(1).toString().isEmpty(), canNtp);
        QCOMPARE(m_timedated.ntpCalls.size(), 1);
        const FakeTimedated::NtpCall& call = m_timedated.ntpCalls.first();
        QVERIFY(call.useNtp == !ntp && call.interactive && call.interactiveFlag);

        service.ask(&context, [&answers](const TimeServiceState& state) { answers.append(state); });
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 10000);
        QCOMPARE(answers.last().keepsClock, canNtp ? !ntp : ntp);
    }

    void shouldRefuseWhenTimedatedIsAbsent()
    {
        m_timedated.ntp = true;
        m_timedated.unregister();
        TimedatedClockStepper stepper(client());
        QSignalSpy finished(&stepper, &ClockStepper::finished);
        stepper.step(1s);
        QVERIFY(finished.wait(10000));
        // Nor does anything keep the clock that could be handed over.
        TimedatedTimeService service(client());
        QList<TimeServiceState> answers;
        service.ask(this, [&answers](const TimeServiceState& state) { answers.append(state); });
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 10000);
        QVERIFY(!answers.first().keepsClock && !answers.first().canHandOver);
        QVERIFY(m_timedated.registerOn(QDBusConnection(QStringLiteral("timedated"))));
        QVERIFY(!finished.first().at(0).toBool() && !finished.first().at(2).toBool());
        QVERIFY(finished.first().at(1).toString().contains(QStringLiteral("org.freedesktop.timedate1")));
        QVERIFY(m_timedated.calls.isEmpty());
    }

    // Without a system bus at all (no systemd, a minimal container) the operator hears so at once,
    // not after the wait meant for a password prompt.
    void shouldRefuseAtOnceWithoutABus()
    {
        const QDBusConnection noBus = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=%1/no-such-bus").arg(QDir::tempPath()), QStringLiteral("nobus"));
        QVERIFY(!noBus.isConnected());
        TimedatedClockStepper stepper(noBus);
        QSignalSpy finished(&stepper, &ClockStepper::finished);
        stepper.step(1s);
        QCOMPARE(finished.size(), 1);
        QVERIFY(!finished.first().at(0).toBool() && !finished.first().at(2).toBool());
        QVERIFY(!stepper.busy());
    }

private:
    // A fresh connection per stepper, as the program has its own to the system bus.
    QDBusConnection client()
    {
        const QDBusConnection bus =
            QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client%1").arg(m_clients++));
        if (!bus.isConnected())
            qWarning() << bus.lastError().message();
        return bus;
    }

    std::unique_ptr<PrivateBus> m_bus;
    FakeTimedated m_timedated;
    int m_clients = 0;
};

QTEST_GUILESS_MAIN(TimedatedClockTest)
#include "test_timedatedclock.moc"
