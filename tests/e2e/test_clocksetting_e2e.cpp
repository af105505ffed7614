#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/nativeudpchannel.h"
#include "platform/timedatedclock.h"
#include "servers/serverlistmodel.h"
#include "tests/support/faketimedated.h"
#include "tests/support/ntpresponder.h"
#include "tests/support/privatebus.h"
#include "timekeeping/ntptime.h"

#include <QLocale>
#include <QTest>
#include <memory>

using namespace ostrelle;

namespace {

constexpr int WaitMs = 5000;

// Loopback servers on 127.0.0.2, .3, ... sharing one port, each answering by the fake clock plus
// its offset.
struct Servers
{
    Servers(const QList<double>& offsets, const QList<int>& strata, FakeClock& clock)
    {
        for (qsizetype i = 0; i < offsets.size(); ++i) {
            const QHostAddress address(QStringLiteral("127.0.0.%1").arg(i + 2));
            auto& responder = responders.emplace_back(
                std::make_unique<NtpResponder>(address, responders.empty() ? 0 : responders.front()->port()));
            responder->fields.offset = offsets.at(i);
            responder->fields.stratum = static_cast<std::uint8_t>(strata.at(i));
            responder->fields.referenceId = {127, 0, 0, 1};
            responder->now = [&clock] { return NowNtpSeconds(clock); };
        }
    }
    QString error() const
    {
        for (const auto& responder : responders) {
            if (!responder->isListening())
                return responder->errorString();
        }
        return {};
    }
    std::vector<std::unique_ptr<NtpResponder>> responders;
};

} // namespace

// The whole way from loopback servers through the real socket, the end of the pass and the
// stepper to a stand-in for systemd-timedated on a private bus; the machine's clock and its system
// bus are never touched.
class ClockSettingE2eTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed");
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(m_bus->start(), qPrintable(m_bus->errorString()));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus->address().toUtf8());
        const QDBusConnection service =
            QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("timedated"));
        QVERIFY2(service.isConnected(), qPrintable(service.lastError().message()));
        QVERIFY(m_timedated.registerOn(service));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("timedated"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        m_bus.reset();
    }

    void shouldSetTheClockOnlyFromServersThatAgree_data()
    {
        QTest::addColumn<QList<double>>("offsets");
        QTest::addColumn<QList<int>>("strata");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<int>("calls");
        QTest::addColumn<int>("redRow");      // -1: none
        QTest::addColumn<QString>("whyNone"); // part of the "Synchronised to:" tooltip

        QTest::newRow("three agree, a stratum 1 an hour ahead")
            << QList<double>{0.0, 0.0, 0.0, 3600.0} << QList<int>{2, 2, 2, 1} << false << 1 << 3 << "";
        QTest::newRow("two that disagree")
            << QList<double>{0.0, 3600.0} << QList<int>{2, 2} << false << 0 << -1 << "no majority";
        QTest::newRow("timedated refuses") << QList<double>{0.0} << QList<int>{2} << true << 1 << -1
                                           << "Automatic time synchronization is enabled";
    }

    void shouldSetTheClockOnlyFromServersThatAgree()
    {
        QFETCH(QList<double>, offsets);
        QFETCH(QList<int>, strata);
        QFETCH(bool, refuse);
        QFETCH(int, calls);
        QFETCH(int, redRow);
        QFETCH(QString, whyNone);
        m_timedated.calls.clear();
        m_timedated.answer = refuse ? FakeTimedated::Answer::Error : FakeTimedated::Answer::Success;
        m_timedated.errorName = QStringLiteral("org.freedesktop.timedate1.AutomaticTimeSyncEnabled");
        m_timedated.errorMessage = QStringLiteral("Automatic time synchronization is enabled");

        FakeClock clock;
        Servers servers(offsets, strata, clock);
        QVERIFY2(servers.error().isEmpty(), qPrintable(servers.error()));
        ServerListModel model;
        NativeUdpChannel channel(servers.responders.front()->port(), 0);
        ScriptedMessageDialog messages;
        TimedatedClockStepper stepper(
            QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client")));
        PollCycle cycle(model, channel, clock, messages);
        cycle.setClockStepper(stepper);
        Settings settings;
        settings.adjustClock = true;
        cycle.setSettings(settings);
        for (const auto& responder : servers.responders)
            model.addServer(responder->address().toString());

        cycle.start();
        QTRY_VERIFY_WITH_TIMEOUT(cycle.lastPollText() != "-", WaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_timedated.calls.size(), calls, WaitMs);
        if (calls > 0) {
            const FakeTimedated::Call call = m_timedated.calls.first();
            QVERIFY(call.relative && call.interactive && call.interactiveFlag);
            QVERIFY2(std::abs(call.usecUtc) < 5000, qPrintable(QString::number(call.usecUtc)));
        }
        if (whyNone.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(cycle.synchronisedToText() != "None", WaitMs);
            QVERIFY(cycle.synchronisedToText() != model.record(3).name);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(cycle.synchronisedToToolTip().contains(whyNone), WaitMs);
            QCOMPARE(cycle.synchronisedToText(), "None");
        }
        if (refuse) {
            QTRY_COMPARE_WITH_TIMEOUT(messages.shown.size(), 1, WaitMs);
            QCOMPARE(messages.shown.first().text, "Unable to set system time.");
            QCOMPARE(messages.shown.first().detailedText, m_timedated.errorMessage);
        }
        for (int row = 0; row < model.rowCount(); ++row) {
            QCOMPARE(model.record(row).unhealthy(), row == redRow);
            if (row == redRow)
                QCOMPARE(model.index(row, 0).data(Qt::ToolTipRole).toString(),
                         "Disagrees with 3 of 4 servers");
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

private:
    std::unique_ptr<PrivateBus> m_bus;
    FakeTimedated m_timedated;
};

QTEST_GUILESS_MAIN(ClockSettingE2eTest)
#include "test_clocksetting_e2e.moc"
