#include "app/monitor.h"
#include "ntp/pollcycle.h"
#include "platform/elevatedclockstepper.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/nativeudpchannel.h"
#include "platform/winsupport.h"
#include "servers/serverlistmodel.h"
#include "tests/support/ntpresponder.h"
#include "tests/support/testsystem.h"
#include "timekeeping/ntptime.h"

#include <QLocale>
#include <QTest>
#include <memory>
#include <vector>

using namespace ostrelle;

namespace {

// The elevated copy takes its time: Wine starts a second process.
constexpr int WaitMs = 30000;

} // namespace

// The whole way on Windows, from loopback servers through the real socket and the end of the pass
// to the elevated copy of the program, which is refused for want of the right to set the time (the
// tests run without it); the machine's clock is never moved.
class ElevatedStepE2eTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        if (!RunningUnderWine())
            QSKIP("Windows would show its consent prompt");
        if (MayMoveRealClock())
            QSKIP("this process could move the real clock: run it under setpriv --bounding-set=-sys_time");
    }

    void shouldShowTheSystemsRefusalOfTheStep()
    {
        // Three servers agree that the clock is two seconds behind: Wine takes a step of under half
        // a second as made without making it. Each on a port of its own at 127.0.0.1: Wine binds a
        // datagram socket asked for 127.0.0.2 to every address, and its replies then come from
        // 127.0.0.1, which the channel, connected to 127.0.0.2, rightly drops.
        FakeClock clock;
        std::vector<std::unique_ptr<NtpResponder>> responders;
        for (int i = 0; i < 3; ++i) {
            auto& responder = responders.emplace_back(std::make_unique<NtpResponder>());
            QVERIFY2(responder->isListening(), qPrintable(responder->errorString()));
            responder->fields.offset = 2.0;
            responder->fields.stratum = 2;
            responder->fields.referenceId = {127, 0, 0, 1};
            responder->now = [&clock] { return NowNtpSeconds(clock); };
        }
        ServerListModel model;
        NativeUdpChannel channel(responders.front()->port(), 0);
        ScriptedMessageDialog messages;
        ElevatedClockStepper stepper(ElevatedClockStepper::RunasLauncher(QStringLiteral(OSTRELLE_PROGRAM)));
        PollCycle cycle(channel, clock, messages);
        LinkServerTable(model, cycle);
        cycle.setClockStepper(stepper);
        Settings settings;
        settings.adjustClock = true;
        cycle.setSettings(settings);
        for (const auto& responder : responders)
            model.addServer(
                QStringLiteral("%1:%2").arg(responder->address().toString()).arg(responder->port()));

        cycle.start();
        QTRY_COMPARE_WITH_TIMEOUT(messages.shown.size(), 1, WaitMs);
        QCOMPARE(messages.shown.first().text, "Unable to set system time.");
        // The system's reason, whichever code Wine gives for a refusal from Linux.
        const QString reason = messages.shown.first().detailedText;
        QVERIFY(!reason.isEmpty());
        QCOMPARE(cycle.synchronisedToText(), "None");
        QCOMPARE(cycle.synchronisedToToolTip(), "Clock not set: the system refused (" + reason + ")");
        for (int row = 0; row < model.rowCount(); ++row)
            QVERIFY(!model.record(row).unhealthy());
    }
};

QTEST_GUILESS_MAIN(ElevatedStepE2eTest)
#include "test_elevatedstep_e2e.moc"
