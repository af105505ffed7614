#include "platform/fakes/fakeclockstepper.h"
#include "platform/fakes/fakehostresolver.h"
#include "platform/fakes/fakeudpchannel.h"
#include "pollcyclerig.h"
#include "serverreply.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

constexpr bool Red = true;
constexpr bool Normal = false;

// How a server answers: its clock is offset ahead of ours; the reply reaches us 20 ms after it is
// built, at the middle of the path, and lateOnReturn later still when the way back is queued.
struct Answer
{
    double offset = 0.0;
    int stratum = 1;
    int leap = 0;
    bool staleOriginate = false;
    double lateOnReturn = 0.0;
};

using Answers = QList<Answer>;

Answer at(double offset, int stratum = 1)
{
    return Answer{.offset = offset, .stratum = stratum};
}

// The poll cycle over a list of servers, with every seam faked; the clock starts at
// 2006-03-10 15:13:22.400 UTC.
struct Rig : PollCycleRig<FakeUdpChannel>
{
    explicit Rig(const QStringList& servers)
    {
        clock.setNow(QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 400), QTimeZone::utc()));
        model.addServers(servers);
    }

    void start()
    {
        cycle.setSettings(settings);
        cycle.start();
    }

    // The server's answer to the request last sent, as it will be when it arrives.
    QByteArray replyToLast(const Answer& a) const
    {
        const double T1 = cycle.requestSendTime();
        const double T2 = T1 + (NowNtpSeconds(clock) + 0.020 - T1) / 2.0 + a.offset;
        const Timestamp originate =
            a.staleOriginate ? SecondsToNtpTimestamp(T1 - 64.0) : transmitOf(channel.sent.last().datagram);
        // A kiss-o'-death (stratum 0) carries its code where the reference identifier goes.
        const std::array<std::uint8_t, 4> id{'R', 'A', 'T', 'E'};
        return encode({a.leap, 4, NtpModeServer, a.stratum, a.stratum == 0 ? id : ServerReply{}.referenceId,
                       T2 - 64.0, originate, T2, T2});
    }

    void deliver(const QByteArray& reply, double lateOnReturn = 0.0)
    {
        clock.advanceMs(20 + qRound(lateOnReturn * 1000));
        channel.deliver(reply);
    }
    void answer(const Answer& a = {}) { deliver(replyToLast(a), a.lateOnReturn); }
    void remove(int row) { model.removeServer(row - 1); }
    // 1-based like the rest of the rig; 0 while resting.
    int pollRow() const { return cycle.pollRow() + 1; }

    FakeClockStepper stepper;
};

// Three stratum-2 servers near true time and a stratum-1 server an hour ahead, with clock
// adjustment on and the clock set through the fake stepper.
struct AgreementRig : Rig
{
    AgreementRig() : Rig({"hour.example", "a.example", "b.example", "c.example"})
    {
        settings.adjustClock = true;
        cycle.setClockStepper(stepper);
    }
    void pass(const Answers& answers)
    {
        for (const Answer& a : answers)
            answer(a);
    }
    void threeAgreeOneHourAhead() { pass({at(3600.0, 1), at(0.002, 2), at(-0.001, 2), at(0.003, 2)}); }
    QString tip(int row) const { return model.index(row - 1, 0).data(Qt::ToolTipRole).toString(); }
};

} // namespace

class PollCycleTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }

    void shouldRestWithoutSendingWhileTableIsEmpty()
    {
        Rig rig({});
        rig.start();
        rig.tick(59);
        QCOMPARE(rig.cycle.countdown(), 1);
        rig.tick();
        QCOMPARE(rig.cycle.countdown(), 60);
        QVERIFY(rig.channel.connectedHosts.isEmpty());
        QCOMPARE(rig.cycle.lastPollText(), "-");
    }

    void shouldPollEachServerInTurnThenRestForNtpPoll_data()
    {
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<int>("ntpPoll");
        QTest::addColumn<int>("ticksToNextPass");

        QTest::newRow("three servers")
            << QStringList{"ntp1.example", "192.0.2.7", "2001:db8::123"} << 60 << 60;
        QTest::newRow("a single server, blanks kept") << QStringList{" ntp1.example "} << 60 << 60;
        QTest::newRow("servers on other ports")
            << QStringList{"127.0.0.1:12300", "[::1]:4123", "ntp1.example:1"} << 60 << 60;
        QTest::newRow("ninety seconds") << QStringList{"ntp1.example"} << 90 << 90;
    }

    void shouldPollEachServerInTurnThenRestForNtpPoll()
    {
        QFETCH(QStringList, servers);
        QFETCH(int, ntpPoll);
        QFETCH(int, ticksToNextPass);
        Rig rig(servers);
        rig.settings.pollIntervalSeconds = ntpPoll;
        QSignalSpy labels(&rig.cycle, &PollCycle::labelsChanged);
        rig.start();

        for (int row = 1; row <= servers.size(); ++row) {
            QCOMPARE(rig.status(row), "Polling");
            // The row keeps the name as stored; the request goes to its host and port.
            const std::optional<ServerAddress> address = ParseServerAddress(servers.at(row - 1));
            QVERIFY(address);
            QCOMPARE(rig.channel.sent.last().host, address->host);
            QCOMPARE(rig.channel.sent.last().port, address->port);
            rig.clock.advanceMs(180);
            rig.answer(at(0.125));
        }
        QCOMPARE(rig.column(ServerColumn::Status), QStringList(servers.size(), "OK"));
        const QStringList row1 = {servers.first(),       "OK",    "4",    "1", "GPS",
                                  "10/03/2006 15:12:19", "0.200", "0.125"};
        for (int col = 0; col < int(ServerColumn::Count); ++col)
            QCOMPARE(rig.cell(1, ServerColumn(col)), row1.at(col));
        // 15:13:22.4 plus 200 ms per server, to the nearest second.
        QCOMPARE(rig.cycle.lastPollText(), "10/03/2006 15:13:23");
        QCOMPARE(labels.count(), 1);

        rig.tick(ticksToNextPass - 1);
        QCOMPARE(rig.channel.sent.size(), servers.size());
        rig.tick();
        QCOMPARE(rig.channel.sent.size(), servers.size() + 1);
    }

    void shouldMarkUnansweredServerTimedoutOnTheTenthTick_data()
    {
        QTest::addColumn<FakeUdpChannel::Readiness>("readiness");
        QTest::addColumn<bool>("sendSucceeds");
        QTest::addColumn<int>("resetAfter"); // ticks after which a dialog's OK sets the countdown to 0

        QTest::newRow("server never answers") << FakeUdpChannel::Readiness::AtOnce << true << 0;
        QTest::newRow("name never resolves") << FakeUdpChannel::Readiness::Never << true << 0;
        QTest::newRow("send refused") << FakeUdpChannel::Readiness::AtOnce << false << 0;
        QTest::newRow("countdown reset while waiting") << FakeUdpChannel::Readiness::AtOnce << true << 3;
    }

    void shouldMarkUnansweredServerTimedoutOnTheTenthTick()
    {
        QFETCH(FakeUdpChannel::Readiness, readiness);
        QFETCH(bool, sendSucceeds);
        QFETCH(int, resetAfter);
        Rig rig({"quiet.example", "next.example"});
        rig.channel.readiness = readiness;
        rig.channel.sendSucceeds = sendSucceeds;
        rig.start();
        rig.tick(resetAfter > 0 ? resetAfter : PollCycle::TicksToAnswer - 1);
        if (resetAfter > 0)
            rig.cycle.pollSoon();
        QCOMPARE(rig.status(1), "Polling");

        rig.channel.readiness = FakeUdpChannel::Readiness::AtOnce;
        rig.channel.sendSucceeds = true;
        rig.tick();
        QCOMPARE(rig.status(1), "Timedout");
        QCOMPARE(rig.colour(1), Red);
        QCOMPARE(rig.status(2), "Polling");
        QVERIFY(rig.messages.shown.isEmpty());

        // A good reply in a later pass clears the mark.
        rig.answer();
        rig.tick(60);
        rig.answer();
        QCOMPARE(rig.status(1), "OK");
        QCOMPARE(rig.colour(1), Normal);
    }

    void shouldStampRequestWhenAddressIsKnown()
    {
        Rig rig({"slow-dns.example"});
        rig.channel.readiness = FakeUdpChannel::Readiness::OnDemand;
        rig.start();
        rig.clock.advanceMs(3000); // the name lookup
        rig.channel.becomeReady();
        emit rig.channel.ready(); // a second ready must not send a second request
        rig.answer();
        QCOMPARE(rig.cell(1, ServerColumn::RoundTrip), "0.020");
        emit rig.channel.ready(); // resting: nothing to send
        QCOMPARE(rig.channel.sent.size(), 1);
    }

    // The reply reaches the machine 20 ms after the request left; the event loop reads it 50 ms
    // later. The kernel's stamp of its arrival is T4, unless it cannot belong to this exchange.
    void shouldTimeReplyByKernelStampWithinTheExchange_data()
    {
        QTest::addColumn<int>("stampMs"); // from the request's send time; -1: no stamp
        QTest::addColumn<QString>("roundTrip");
        QTest::addColumn<QString>("offset");
        QTest::newRow("stamp at arrival") << 20 << "0.020"
                                          << "0.250";
        QTest::newRow("no stamp: time of reading") << -1 << "0.070"
                                                   << "0.225";
        QTest::newRow("stamp before the request: clock stepped") << -1000 << "0.070"
                                                                 << "0.225";
        QTest::newRow("stamp after the reading: another clock") << 3600000 << "0.070"
                                                                << "0.225";
    }
    void shouldTimeReplyByKernelStampWithinTheExchange()
    {
        QFETCH(int, stampMs);
        Rig rig({"a.example"});
        rig.start();
        const FakeClock::TimePoint sentAt = rig.clock.now();
        const QByteArray reply = rig.replyToLast(at(0.25));
        rig.clock.advanceMs(70);
        ReceiveTime stamp;
        if (stampMs != -1)
            stamp = sentAt + std::chrono::milliseconds(stampMs);
        rig.channel.deliver(reply, stamp);
        QTEST(rig.cell(1, ServerColumn::RoundTrip), "roundTrip");
        QTEST(rig.cell(1, ServerColumn::Offset), "offset");
    }

    // Whatever arrives while b's request is out changes no row but b's, the cycle goes on, and the
    // clock is set only from the sound answers (0.250 s), never from the bad data (1000 s).
    void shouldSurviveBadDatagrams_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("statusOfB"); // empty: the datagram is dropped and b keeps waiting
        for (const char* kind : {"empty", "47 octets", "random octets", "stale originate", "our own request"})
            QTest::newRow(kind) << kind << "";
        QTest::newRow("second answer") << "second answer"
                                       << "OK";
        QTest::newRow("answer after time-out") << "answer after time-out"
                                               << "Timedout";
        QTest::newRow("1500 octets") << "1500 octets"
                                     << "OK";
        QTest::newRow("kiss-o'-death DENY") << "DENY"
                                            << "NO SYNC";
        QTest::newRow("LI 3") << "LI 3"
                              << "NO SYNC";
        QTest::newRow("zero timestamps") << "zero timestamps"
                                         << "OK";
        QTest::newRow("no reference time") << "no reference time"
                                           << "OK";
    }

    void shouldSurviveBadDatagrams()
    {
        QFETCH(QString, kind);
        QFETCH(QString, statusOfB);
        Rig rig({"a.example", "b.example", "c.example"});
        rig.settings.adjustClock = true;
        rig.start();
        rig.answer(at(0.25));
        const QByteArray request = rig.channel.sent.last().datagram;
        QByteArray bad = rig.replyToLast({.offset = 1000.0, .leap = kind == "LI 3" ? 3 : 0});
        const auto kiss = [&](int stratum, int leap) {
            return encode({.leap = leap,
                           .stratum = stratum,
                           .referenceId = {'D', 'E', 'N', 'Y'},
                           .originate = transmitOf(request)});
        };
        if (kind == "empty" || kind == "47 octets")
            bad.truncate(kind == "empty" ? 0 : 47);
        else if (kind == "random octets")
            bad = QByteArray(48, '\x5a'); // mode 2
        else if (kind == "stale originate")
            bad = rig.replyToLast({.offset = 1000.0, .staleOriginate = true});
        else if (kind == "our own request")
            bad = request;
        else if (kind == "second answer")
            rig.answer(at(0.25));
        else if (kind == "answer after time-out")
            rig.tick(10);
        else if (kind == "1500 octets")
            bad = rig.replyToLast(at(0.25)) + QByteArray(1452, '\xff');
        else if (kind == "DENY" || kind == "zero timestamps")
            bad = kind == "DENY" ? kiss(0, 3) : kiss(1, 0);
        else if (kind == "no reference time")
            bad.replace(16, 8, QByteArray(8, '\0'));
        const auto rowTexts = [&](int row) {
            QStringList texts;
            for (int col = 0; col < int(ServerColumn::Count); ++col)
                texts << rig.cell(row, ServerColumn(col));
            texts << QString::number(rig.colour(row));
            return texts;
        };
        const QStringList a = rowTexts(1), b = rowTexts(2);
        QStringList c = rowTexts(3);
        rig.deliver(bad);
        QCOMPARE(rowTexts(1), a);
        if (rig.pollRow() == 3)
            c[int(ServerColumn::Status)] = "Polling"; // c is polled next, and only that may show
        QCOMPARE(rowTexts(3), c);
        if (statusOfB.isEmpty())
            QCOMPARE(rowTexts(2), b);
        else
            QCOMPARE(rig.status(2), statusOfB);
        while (rig.pollRow() != 0)
            rig.answer(at(0.25)); // the real answers still count
        QCOMPARE(rig.cycle.lastAdjustmentText(), "0.250 secs");
        QVERIFY(rig.clock.nowDateTime() < QDateTime(QDate(2006, 3, 10), QTime(15, 14), QTimeZone::utc()));
    }

    void shouldSetClockFromTheBestCandidateOnlyWhenAdjustmentIsOn_data()
    {
        QTest::addColumn<bool>("adjustClock");
        QTest::addColumn<QString>("labelSync");
        QTest::addColumn<QString>("labelAdjust"); // before " secs"
        QTest::addColumn<int>("clockMs");         // the clock after the pass: 15:13:22 plus this
        QTest::addColumn<bool>("lastRowColour");
        QTest::addColumn<Answers>("answers"); // from s1, s2

        // StratumHighlight 2. Each answer takes 20 ms from 15:13:22.400; the clock is set to the end of
        // pass plus the offset, floored to the millisecond.
        const auto row = &QTest::newRow;
        // clang-format off
        row("adjustment off") << false << "None" << "None"  << 420 << Normal << Answers{at(.2502)};
        row("clock behind")   << true << "s1"   << "0.250" << 670 << Normal << Answers{at(.2502)};
        row("rounds to -0")   << true << "s1"   << "0.000" << 419 << Normal << Answers{at(-.0004)};
        row("stratum 3")      << true << "s1"   << "0.250" << 670 << Red    << Answers{at(.25, 3)};
        row("kiss-o'-death")  << true << "None" << "None"  << 420 << Red    << Answers{at(.25, 0)};
        row("-0.020, 0.010")  << true << "s2"   << "0.010" << 450 << Normal << Answers{at(-.0202), at(.0102)};
        row("0.010, -0.010")  << true << "s1"   << "0.010" << 450 << Normal << Answers{at(.0102), at(-.0102)};
        row("stratum 2 next") << true << "s1"   << "0.500" << 940 << Normal << Answers{at(.5002), at(.001, 2)};
        row("stratum 1 next") << true << "s2"   << "0.500" << 940 << Normal << Answers{at(.001, 2), at(.5002)};
        row("LI 3 next")      << true << "s1"   << "0.500" << 940 << Red    << Answers{at(.5002), {.leap = 3}};
        // clang-format on
    }

    void shouldSetClockFromTheBestCandidateOnlyWhenAdjustmentIsOn()
    {
        QFETCH(bool, adjustClock);
        QFETCH(Answers, answers);
        QFETCH(QString, labelAdjust);
        QFETCH(int, clockMs);
        Rig rig(QStringList{"s1", "s2"}.first(answers.size()));
        rig.settings.adjustClock = adjustClock;
        rig.settings.stratumLimit = 2;
        rig.start();
        for (const Answer& answer : answers)
            rig.answer(answer);
        QTEST(rig.cycle.synchronisedToText(), "labelSync");
        QCOMPARE(rig.cycle.lastAdjustmentText(), labelAdjust == "None" ? labelAdjust : labelAdjust + " secs");
        QCOMPARE(rig.clock.nowDateTime().time(), QTime(15, 13, 22).addMSecs(clockMs));
        QTEST(rig.colour(answers.size()), "lastRowColour");
    }

    void shouldShowOneRefusedClockMessageAtATimeAfterThePass()
    {
        Rig rig({"a.example"});
        rig.settings.adjustClock = true;
        rig.clock.refuseSet = true;
        rig.start();
        QStringList labelsWhileOpen;
        rig.messages.whileOpen = [&] {
            // Many passes while the operator leaves the message open: each is refused again.
            for (int pass = 0; pass < 5; ++pass) {
                rig.tick(60);
                rig.answer(at(0.25));
                QCoreApplication::processEvents();
            }
            labelsWhileOpen << rig.cycle.lastPollText() << rig.cycle.synchronisedToText();
        };
        rig.answer(at(0.25));
        QVERIFY(rig.messages.shown.isEmpty());
        QCOMPARE(rig.cycle.synchronisedToText(), "None");

        QCoreApplication::processEvents();
        QCOMPARE(rig.messages.shown.size(), 1);
        QCOMPARE(rig.messages.shown.first().text, "Unable to set system time.");
        QCOMPARE(rig.clock.setCalls.size(), 6);
        QCOMPARE(labelsWhileOpen, QStringList({"10/03/2006 15:18:23", "None"}));

        // Once closed, the next refusal may be shown again.
        rig.messages.whileOpen = nullptr;
        rig.tick(60);
        rig.answer(at(0.25));
        QCoreApplication::processEvents();
        QCOMPARE(rig.messages.shown.size(), 2);
    }

    void shouldStepOnlyFromServersThatAgree()
    {
        AgreementRig rig;
        rig.start();
        rig.threeAgreeOneHourAhead();
        QCOMPARE(rig.stepper.steps.size(), 1);
        QVERIFY(std::chrono::abs(rig.stepper.steps.first()) < std::chrono::milliseconds(5));
        QCOMPARE(rig.cycle.synchronisedToText(), "b.example"); // the smallest offset of the three
        QCOMPARE(rig.cycle.lastAdjustmentText(), "-0.001 secs");
        QVERIFY(rig.colour(1));
        QCOMPARE(rig.tip(1), "Disagrees with 3 of 4 servers");
        QCOMPARE(QList<bool>({rig.colour(2), rig.colour(3), rig.colour(4)}),
                 QList<bool>({false, false, false}));
        QVERIFY(rig.cycle.synchronisedToToolTip().isEmpty());
    }

    // The clock goes by the server's least delayed recent sample, carried across the step it made;
    // the table shows the latest one, and the tooltip what the filter made of them.
    void shouldStepByTheLeastDelayedRecentSample()
    {
        AgreementRig rig;
        for (int i = 0; i < 3; ++i)
            rig.remove(1);
        rig.start();
        rig.answer(at(0.004, 2));
        QCOMPARE(rig.stepper.steps.size(), 1);
        QCOMPARE(rig.stepper.steps.at(0), std::chrono::microseconds(4000));

        // Queued for 200 ms on its way back: read 100 ms behind, with ten times the round trip.
        rig.tick(rig.settings.pollIntervalSeconds);
        Answer queued = at(0.004, 2);
        queued.lateOnReturn = 0.200;
        rig.answer(queued);
        QCOMPARE(rig.cell(1, ServerColumn::Offset), "-0.096");
        QCOMPARE(rig.stepper.steps.size(), 2);
        QVERIFY2(std::chrono::abs(rig.stepper.steps.at(1)) < std::chrono::microseconds(10),
                 qPrintable(QString::number(rig.stepper.steps.at(1).count())));
        QVERIFY2(rig.tip(1).startsWith("Filtered offset 0.000000 s (jitter 0.09"), qPrintable(rig.tip(1)));
        QVERIFY(rig.tip(1).endsWith("2 samples)"));
    }

    void shouldNotStepWithoutAMajority()
    {
        AgreementRig rig;
        rig.remove(1);
        rig.remove(1);
        rig.start();
        rig.pass({at(0.0, 2), at(5.0, 2)});
        QVERIFY(rig.stepper.steps.isEmpty());
        QCOMPARE(rig.cycle.synchronisedToText(), "None");
        QCOMPARE(rig.cycle.lastAdjustmentText(), "None");
        QVERIFY2(rig.cycle.synchronisedToToolTip().contains("no majority"),
                 qPrintable(rig.cycle.synchronisedToToolTip()));
        QCOMPARE(QList<bool>({rig.colour(1), rig.colour(2)}), QList<bool>({false, false}));
    }

    void shouldTakeALateAnswerIntoThatPassesLabels()
    {
        AgreementRig rig;
        rig.stepper.answerAtOnce = false;
        rig.start();
        rig.threeAgreeOneHourAhead();
        QCOMPARE(rig.cycle.synchronisedToText(), "None");
        QCOMPARE(rig.pollRow(), 0); // the pass is over, nothing waits
        QSignalSpy labels(&rig.cycle, &PollCycle::labelsChanged);

        rig.tick(30);
        rig.stepper.answer(true);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(rig.cycle.synchronisedToText(), "b.example");
        QCOMPARE(rig.cycle.lastAdjustmentText(), "-0.001 secs");
    }

    void shouldShowTheSystemsReasonOnceWhenItRefuses()
    {
        AgreementRig rig;
        rig.stepper.succeed = false;
        rig.start();
        rig.threeAgreeOneHourAhead();
        QCoreApplication::processEvents();
        QCOMPARE(rig.messages.shown.size(), 1);
        QCOMPARE(rig.messages.shown.first().text, "Unable to set system time.");
        QCOMPARE(rig.messages.shown.first().detailedText, rig.stepper.refusal);
        QCOMPARE(rig.cycle.synchronisedToText(), "None");
        QVERIFY(rig.cycle.synchronisedToToolTip().contains(rig.stepper.refusal));
    }

    void shouldStopAskingAfterACancelUntilAdjustmentIsConfirmedAgain()
    {
        AgreementRig rig;
        rig.stepper.succeed = false;
        rig.stepper.cancel = true;
        rig.start();
        rig.threeAgreeOneHourAhead();
        rig.tick(60);
        rig.threeAgreeOneHourAhead();
        QCoreApplication::processEvents();
        QCOMPARE(rig.stepper.steps.size(), 1);
        QVERIFY(rig.messages.shown.isEmpty());
        QVERIFY(rig.cycle.synchronisedToToolTip().contains("not authorised"));

        rig.stepper.succeed = true;
        Settings off = rig.settings;
        off.adjustClock = false;
        rig.cycle.setSettings(off);
        rig.tick(60);
        rig.threeAgreeOneHourAhead();
        QCOMPARE(rig.stepper.steps.size(), 1);

        rig.cycle.setSettings(rig.settings); // the operator's OK in Options with adjustment on
        rig.tick(60);
        rig.threeAgreeOneHourAhead();
        QCOMPARE(rig.stepper.steps.size(), 2);
        QCOMPARE(rig.cycle.synchronisedToText(), "b.example");
    }

    void shouldKeepPollStateWithTheServerWhenARowIsRemoved_data()
    {
        QTest::addColumn<int>("removedRow");
        QTest::addColumn<QStringList>("statuses"); // ten ticks after b's answer has come
        QTest::addColumn<QStringList>("offsets");  // once b's answer has come

        // b.example, row 2 of a, b, c, is being polled; c's turn comes after it.
        // clang-format off
        QTest::newRow("row above")  << 1 << QStringList{"OK", "Timedout"} << QStringList{"0.250", ""};
        QTest::newRow("polled row") << 2 << QStringList{"OK", "Polling"}  << QStringList{"0.000", ""};
        QTest::newRow("row below")  << 3 << QStringList{"OK", "OK"}       << QStringList{"0.000", "0.250"};
        // clang-format on
    }

    void shouldKeepPollStateWithTheServerWhenARowIsRemoved()
    {
        QFETCH(int, removedRow);
        Rig rig({"a.example", "b.example", "c.example"});
        rig.start();
        rig.answer();
        const QByteArray answerForB = rig.replyToLast(at(0.25));

        rig.remove(removedRow);
        rig.deliver(answerForB);
        QTEST(rig.column(ServerColumn::Offset), "offsets");
        rig.tick(10);
        QTEST(rig.column(ServerColumn::Status), "statuses");
    }

    void shouldForgetCandidateWhenItsServerIsRemoved()
    {
        Rig rig({"a.example", "b.example", "c.example"});
        rig.settings.adjustClock = true;
        rig.start();
        rig.answer(at(0.5, 2));
        rig.answer(at(0.25)); // b is the candidate, c is polled

        rig.remove(1);
        rig.remove(1); // b, now in row 1
        rig.answer(at(0.125, 3));
        QCOMPARE(rig.cycle.synchronisedToText(), "c.example");
        QCOMPARE(rig.cycle.lastAdjustmentText(), "0.125 secs");
    }

    void shouldPollServerAddedAfterClearAllAsFreshServer()
    {
        Rig rig({"a.example", "b.example", "c.example"});
        rig.settings.adjustClock = true;
        rig.start();
        rig.answer(at(0.5));
        rig.answer(at(0.5)); // a is the candidate, c is polled

        rig.model.clear();
        QVERIFY(!rig.channel.isOpen);
        rig.model.addServer("fresh.example");
        rig.cycle.pollSoon();
        rig.tick();
        QCOMPARE(rig.status(1), "Polling");
        QCOMPARE(rig.colour(1), Normal);
        rig.answer(at(0.125, 2));
        QCOMPARE(rig.cycle.synchronisedToText(), "fresh.example");
        QCOMPARE(rig.cycle.lastAdjustmentText(), "0.125 secs");
    }

    void shouldFailOnlyTheRequestOnSocketErrorAndKeepPolling()
    {
        Rig rig({"a.example", "b.example"});
        rig.start();
        int shownWhileOpen = -1;
        rig.messages.whileOpen = [&] {
            rig.channel.fail(QStringLiteral("Too many open files")); // a second failure meanwhile
            QCoreApplication::processEvents();
            shownWhileOpen = rig.messages.shown.size();
        };

        rig.channel.fail(QStringLiteral("Too many open files"));
        QCOMPARE(rig.status(1), "Timedout");
        QVERIFY(rig.model.record(0).problems.testFlag(ServerProblem::SocketError));
        QVERIFY(rig.messages.shown.isEmpty()); // not from inside the channel's handler
        QCoreApplication::processEvents();
        QCOMPARE(rig.messages.shown.size(), 1);
        const ScriptedMessageDialog::Shown& shown = rig.messages.shown.first();
        QCOMPARE(shown.text + " / " + shown.title, "Socket Error: Too many open files / Brevikon Ostrelle");
        QCOMPARE(shown.icon, MessageDialog::Icon::Critical);
        QCOMPARE(shownWhileOpen, 1);

        // The next tick goes on with the next server, whose socket can be made again.
        rig.tick();
        QCOMPARE(rig.status(2), "Polling");
        rig.answer();
        QCOMPARE(rig.status(2), "OK");
        QVERIFY(rig.messages.shown.size() <= 2);
    }

    void shouldNeverLookUpBlankOrOverlongNames()
    {
        Rig rig({"   ", QString(256, 'x'), "good.example"});
        QSignalSpy steps(&rig.cycle, &PollCycle::serverPolled);
        rig.start();
        QCOMPARE(rig.channel.connectedHosts, QStringList{"good.example"});
        QCOMPARE(rig.column(ServerColumn::Status), QStringList({"Timedout", "Timedout", "Polling"}));
        QVERIFY(rig.model.record(1).problems.testFlag(ServerProblem::UnpollableName));
        QCOMPARE(rig.cell(2, ServerColumn::Name), QString(252, 'x') + "...");
        QCOMPARE(steps.size(), 2);
    }

    void shouldReportEachFinishedStep()
    {
        Rig rig({"a.example", "b.example"});
        QSignalSpy steps(&rig.cycle, &PollCycle::serverPolled);
        rig.start();
        rig.answer(at(0.1234567));
        rig.tick(PollCycle::TicksToAnswer);
        QCOMPARE(steps.size(), 2);
        const auto first = steps.at(0).at(0).value<PollStep>();
        QCOMPARE(first.server, "a.example");
        QVERIFY(first.answered);
        QVERIFY(std::abs(first.reading.offsetSeconds - 0.1234567) < 1e-6);
        QCOMPARE(first.polledAt, FakeClock().now() + std::chrono::milliseconds(275));
        QVERIFY(!steps.at(1).at(0).value<PollStep>().answered);
    }

    // A pool is one row: each pass asks the address that answered last, and the next one once that
    // has fallen silent or its socket failed; the row and the step say which address answered.
    void shouldStayWithThePoolAddressThatAnswers()
    {
        Rig rig({"pool.example"});
        FakeHostResolver resolver;
        resolver.add("pool.example", {QHostAddress("127.0.0.2"), QHostAddress("::1")});
        rig.cycle.setHostResolver(resolver);
        QSignalSpy steps(&rig.cycle, &PollCycle::serverPolled);
        QStringList asked;
        rig.start();
        // outcome per pass: a answers, s silent, e socket error
        for (const QChar outcome : QStringLiteral("asaea")) {
            // The lookup answers from the event loop; the request follows it at once.
            for (int tick = 0; tick <= 2 * rig.settings.pollIntervalSeconds && rig.channel.sent.isEmpty();
                 ++tick) {
                if (tick > 0)
                    rig.tick();
                QCoreApplication::processEvents();
            }
            QCOMPARE(rig.channel.sent.size(), 1);
            asked << rig.channel.sent.last().host;
            if (outcome == u'a')
                rig.answer();
            else if (outcome == u'e')
                rig.channel.fail("Network is unreachable");
            else
                rig.tick(PollCycle::TicksToAnswer);
            rig.channel.sent.clear();
            if (outcome == u'a')
                QCOMPARE(rig.model.index(0, 0).data(Qt::ToolTipRole).toString(),
                         "Answered from " + asked.last());
        }
        QCOMPARE(asked, (QStringList{"127.0.0.2", "127.0.0.2", "::1", "::1", "127.0.0.2"}));
        QCOMPARE(steps.size(), asked.size());
        for (qsizetype i = 0; i < steps.size(); ++i)
            QCOMPARE(steps.at(i).at(0).value<PollStep>().address, QHostAddress(asked.at(i)));
        QCOMPARE(rig.model.rowCount(), 1);
    }
};

QTEST_GUILESS_MAIN(PollCycleTest)
#include "test_pollcycle.moc"
