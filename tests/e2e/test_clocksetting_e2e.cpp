#include "app/mainwindow.h"
#include "app/monitor.h"
#include "dialogs/optionsdialog.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/nativeudpchannel.h"
#include "platform/timedatedclock.h"
#include "servers/serverlistmodel.h"
#include "tests/support/faketimedated.h"
#include "tests/support/ntpresponder.h"
#include "tests/support/privatebus.h"
#include "timekeeping/ntptime.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
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

    void init() { m_timedated.reset(); }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("timedated"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        m_bus.reset();
    }

    // Three agree and a stratum 1 an hour ahead is left out. Which servers agree, and how a refusal
    // reaches the operator, are the poll cycle's tests over fakes, and the stepper's own over this bus.
    void shouldSetTheClockOnlyFromServersThatAgree()
    {
        FakeClock clock;
        Servers servers({0.0, 0.0, 0.0, 3600.0}, {2, 2, 2, 1}, clock);
        QVERIFY2(servers.error().isEmpty(), qPrintable(servers.error()));
        ServerListModel model;
        NativeUdpChannel channel(servers.responders.front()->port(), 0);
        ScriptedMessageDialog messages;
        TimedatedClockStepper stepper(
            QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client")));
        PollCycle cycle(channel, clock, messages);
        LinkServerTable(model, cycle);
        cycle.setClockStepper(stepper);
        Settings settings;
        settings.adjustClock = true;
        cycle.setSettings(settings);
        for (const auto& responder : servers.responders)
            model.addServer(responder->address().toString());

        cycle.start();
        QTRY_COMPARE_WITH_TIMEOUT(m_timedated.calls.size(), 1, WaitMs);
        const FakeTimedated::Call call = m_timedated.calls.first();
        QVERIFY(call.relative && call.interactive && call.interactiveFlag);
        QVERIFY2(std::abs(call.usecUtc) < 5000, qPrintable(QString::number(call.usecUtc)));
        QTRY_VERIFY_WITH_TIMEOUT(cycle.synchronisedToText() != "None", WaitMs);
        QVERIFY(cycle.synchronisedToText() != model.record(3).name);
        QVERIFY(messages.shown.isEmpty());
        for (int row = 0; row < model.rowCount(); ++row)
            QCOMPARE(model.record(row).unhealthy(), row == 3);
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    // While timedated's automatic synchronisation keeps the clock, passes with adjustment on try
    // no step and show no refusal; Options and the tooltip say who keeps the clock. Switching
    // adjustment on offers the hand-over, after which the next pass sets the clock; switching it
    // off offers to give the clock back.
    void shouldLeaveTheClockToAnotherServiceUntilHandedOver()
    {
        m_timedated.ntp = true;
        m_timedated.ntpSynchronized = true;
        FakeClock clock;
        Servers servers({0.0, 0.0, 0.0}, {2, 2, 2}, clock);
        QVERIFY2(servers.error().isEmpty(), qPrintable(servers.error()));
        MemorySettingsBackend store;
        store.seed(QStringLiteral("Settings"), QStringLiteral("SysTimeAdj"), QStringLiteral(" 1"));
        store.seed(QStringLiteral("Settings"), QStringLiteral("NtpServerCnt"), QStringLiteral(" 3"));
        for (int i = 0; i < 3; ++i)
            store.seed(QStringLiteral("Settings"),
                       QStringLiteral("NtpServer%1").arg(i + 1, 4, 10, QLatin1Char('0')),
                       servers.responders.at(std::size_t(i))->address().toString());
        NativeUdpChannel channel(servers.responders.front()->port(), 0);
        ScriptedMessageDialog messages;
        const QDBusConnection bus = QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("client"));
        TimedatedClockStepper stepper(bus);
        TimedatedTimeService service(bus);
        MainWindow window(clock, store, channel, messages);
        PollCycle& cycle = window.monitor().cycle();
        QSignalSpy passes(&cycle, &PollCycle::passFinished);
        cycle.setClockStepper(stepper);
        window.setTimeService(service);
        const auto* synchronisedTo = window.findChild<QLabel*>(QStringLiteral("LabelSync"));
        const auto nextPass = [&] {
            // Between passes, so that hurrying the next one cuts no answer short.
            QTRY_VERIFY_WITH_TIMEOUT(cycle.pollRow() < 0, WaitMs);
            const qsizetype before = passes.size();
            cycle.pollSoon();
            QTRY_COMPARE_WITH_TIMEOUT(passes.size(), before + 1, WaitMs);
        };

        QTRY_COMPARE_WITH_TIMEOUT(passes.size(), 1, WaitMs);
        nextPass();
        nextPass();
        QTRY_COMPARE_WITH_TIMEOUT(synchronisedTo->toolTip(),
                                  "Another time service keeps this clock, and has synchronised it.", WaitMs);
        QCOMPARE(synchronisedTo->text(), "None");
        QVERIFY(m_timedated.calls.isEmpty());
        QVERIFY(messages.shown.isEmpty());

        const auto chooseAdjustment = [&](bool on, const QString& headline) {
            window.findChild<QPushButton*>(QStringLiteral("CommandOptions"))->click();
            auto* options = window.findChild<OptionsDialog*>();
            const auto* label = options->findChild<QLabel*>(QStringLiteral("LabelTimeService"));
            // The headline is read afresh when Options opens.
            QTRY_COMPARE_WITH_TIMEOUT(label->text(), headline, WaitMs);
            options->findChild<QCheckBox*>(QStringLiteral("CheckAdj"))->setChecked(on);
            options->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        };
        // Off again while the other service keeps the clock: there is nothing to give back.
        chooseAdjustment(false, "Another time service keeps this clock");
        QVERIFY(messages.shown.isEmpty() && m_timedated.ntpCalls.isEmpty());

        messages.answers = {MessageDialog::Button::Yes};
        chooseAdjustment(true, "Another time service keeps this clock");
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().buttons, MessageDialog::Buttons::YesNo);
        QTRY_COMPARE_WITH_TIMEOUT(m_timedated.ntpCalls.size(), 1, WaitMs);
        QVERIFY(!m_timedated.ntpCalls.first().useNtp && m_timedated.ntpCalls.first().interactiveFlag);
        nextPass();
        QTRY_COMPARE_WITH_TIMEOUT(m_timedated.calls.size(), 1, WaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(synchronisedTo->text() != "None", WaitMs);
        QCOMPARE(messages.shown.size(), 1);

        messages.answers = {MessageDialog::Button::Yes};
        chooseAdjustment(false, "");
        QCOMPARE(messages.shown.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(m_timedated.ntpCalls.size(), 2, WaitMs);
        QVERIFY(m_timedated.ntpCalls.last().useNtp);
        QVERIFY(m_timedated.ntp);
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

private:
    std::unique_ptr<PrivateBus> m_bus;
    FakeTimedated m_timedated;
};

QTEST_MAIN(ClockSettingE2eTest)
#include "test_clocksetting_e2e.moc"
