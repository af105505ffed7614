#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "serverreply.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"
#include "timekeeping/ntptime.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

using RefId = std::array<std::uint8_t, 4>;

// How a server answers. The reply reaches us arrivalMs after it is built; the server's clock is
// offset ahead of ours, and it holds the request for hold seconds in the middle of the path.
struct Answer
{
    double offset = 0.0;
    double hold = 0.0;
    int arrivalMs = 20;
    int leap = 0;
    int stratum = 1;
    RefId referenceId{'G', 'P', 'S', 0};
    double referenceAge = 64.0; // T3 - reference time; 0 sends none
    int mode = NtpModeServer;
    bool staleOriginate = false;
    bool zeroReceive = false;
    bool zeroTransmit = false;
};

Answer withOffset(double offset, int stratum = 1, int arrivalMs = 20)
{
    Answer answer;
    answer.offset = offset;
    answer.arrivalMs = arrivalMs;
    answer.stratum = stratum;
    return answer;
}

QByteArray replyTo(const QByteArray& request, double T1, double T4, const Answer& a)
{
    const double T2 = T1 + (T4 - T1 - a.hold) / 2.0 + a.offset;
    const double T3 = T2 + a.hold;

    ServerReply reply;
    reply.leap = a.leap;
    reply.mode = a.mode;
    reply.stratum = a.stratum;
    reply.referenceId = a.referenceId;
    reply.originate = a.staleOriginate ? SecondsToNtpTimestamp(T1 - 64.0) : transmitOf(request);
    reply.receiveTime = a.zeroReceive ? 0.0 : T2;
    reply.transmitTime = a.zeroTransmit ? 0.0 : T3;
    reply.referenceTime = a.referenceAge == 0.0 ? 0.0 : T3 - a.referenceAge;
    return encode(reply);
}

const QDateTime Start(QDate(2006, 3, 10), QTime(15, 13, 22, 400), Qt::UTC);

// The poll cycle over a table of servers, with every seam faked.
struct Rig
{
    explicit Rig(const QStringList& servers, const QDateTime& startUtc = Start) : clock(startUtc)
    {
        for (const QString& server : servers)
            table.AddServerRow(server);
        table.setRow(0);
    }

    // As the main window's start-up does it.
    void start()
    {
        cycle.setBestStratum(-1);
        cycle.setPollCountdown(0);
        cycle.TimerTimeout_Timer();
    }

    void tick(int ticks = 1)
    {
        for (int i = 0; i < ticks; ++i) {
            clock.advanceMs(1000);
            cycle.TimerTimeout_Timer();
        }
    }

    QByteArray lastRequest() const { return channel.sent.last().datagram; }
    // The server's answer to the request last sent, as it will be when it arrives.
    QByteArray replyToLast(const Answer& a) const
    {
        const double T4 = NowNtpSeconds(clock) + a.arrivalMs / 1000.0;
        return replyTo(lastRequest(), cycle.RequestSendTime(), T4, a);
    }

    void deliver(const QByteArray& reply, int arrivalMs = 20)
    {
        clock.advanceMs(arrivalMs);
        channel.deliver(reply);
    }

    void answer(const Answer& a = Answer{}) { deliver(replyToLast(a), a.arrivalMs); }

    QString cell(int row, int col) const { return table.TextMatrix(row, col); }
    QString status(int row) const { return cell(row, ServerTable::ColStatus); }

    bool isRed(int row) const
    {
        for (int col = 0; col < ServerTable::ColumnCount; ++col) {
            if (table.cellColour(row, col) != ServerTable::ColourRed)
                return false;
        }
        return true;
    }
    bool isNormal(int row) const
    {
        for (int col = 0; col < ServerTable::ColumnCount; ++col) {
            if (table.cellColour(row, col) != ServerTable::ColourNormal)
                return false;
        }
        return true;
    }

    ServerTable table;
    Settings settings;
    FakeUdpChannel channel;
    FakeClock clock;
    ScriptedMessageDialog messages;
    PollCycle cycle{table, settings, channel, clock, messages};
};

} // namespace

Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(FakeUdpChannel::Readiness)

class PollCycleTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }

    // the round
    void shouldRestWithoutSendingWhileTableIsEmpty();
    void shouldPollEachServerInTurnThenRestForNtpPoll_data();
    void shouldPollEachServerInTurnThenRestForNtpPoll();
    void shouldMarkUnansweredServerTimedoutOnTheTenthTick_data();
    void shouldMarkUnansweredServerTimedoutOnTheTenthTick();
    void shouldClearRedWhenTimedOutServerAnswersLater();
    void shouldTimeOutOutstandingRequestAtTickAfterCountdownReset();
    void shouldStartNextPassAtTickAfterCountdownReset();
    void shouldStampRequestWhenAddressIsKnown();
    void shouldLeaveOperatorsCurrentRowAlone();

    // replies
    void shouldColourRowByThresholds_data();
    void shouldColourRowByThresholds();
    void shouldShowKissCodeButNeverSetClockFromIt();
    void shouldIgnoreDatagramThatDoesNotAnswerTheRequest_data();
    void shouldIgnoreDatagramThatDoesNotAnswerTheRequest();
    void shouldIgnoreSecondAnswerToOneRequest();
    void shouldIgnoreAnswerThatComesAfterTheTimeout();
    void shouldIgnoreDatagramWhileResting();
    void shouldWorkInTheNtpEraOfTheLocalClock_data();
    void shouldWorkInTheNtpEraOfTheLocalClock();

    // end of pass and the clock
    void shouldSetClockFromCandidateOnlyWhenAdjustmentIsOn_data();
    void shouldSetClockFromCandidateOnlyWhenAdjustmentIsOn();
    void shouldChooseLowestStratumThenSmallestOffset_data();
    void shouldChooseLowestStratumThenSmallestOffset();
    void shouldShowRefusedClockMessageOnlyAfterPassHasEnded();

    // the operator's edits
    void shouldKeepPollStateWithTheServerWhenARowIsRemoved_data();
    void shouldKeepPollStateWithTheServerWhenARowIsRemoved();
    void shouldForgetCandidateWhenItsServerIsRemoved();
    void shouldPollServerAddedAfterClearAllAsFreshServer_data();
    void shouldPollServerAddedAfterClearAllAsFreshServer();

    void shouldReportSocketErrorAfterHandlerReturnedThenAskToEnd();
};

void PollCycleTest::shouldRestWithoutSendingWhileTableIsEmpty()
{
    Rig rig({});
    QSignalSpy labels(&rig.cycle, &PollCycle::labelsChanged);

    rig.start();
    QCOMPARE(rig.cycle.PollCountdown(), 60);
    rig.tick(59);
    QCOMPARE(rig.cycle.PollCountdown(), 1);
    rig.tick();
    QCOMPARE(rig.cycle.PollCountdown(), 60);

    QVERIFY(rig.channel.connectedHosts.isEmpty());
    QVERIFY(rig.channel.sent.isEmpty());
    QCOMPARE(rig.cycle.PollRow(), 0);
    QCOMPARE(rig.cycle.LabelPoll(), "-");
    QCOMPARE(rig.cycle.LabelSync(), "None");
    QCOMPARE(rig.cycle.LabelAdjust(), "None");
    QCOMPARE(labels.count(), 0);
}

void PollCycleTest::shouldPollEachServerInTurnThenRestForNtpPoll_data()
{
    QTest::addColumn<QStringList>("servers");
    QTest::addColumn<int>("ntpPoll");
    QTest::addColumn<int>("ticksToNextPass");

    const QStringList three = {"ntp1.example", "192.0.2.7", "2001:db8::123"};
    QTest::newRow("three servers") << three << 60 << 60;
    QTest::newRow("a single server") << QStringList{"ntp1.example"} << 60 << 60;
    QTest::newRow("host name kept with its blanks") << QStringList{" ntp1.example "} << 120 << 120;
    QTest::newRow("interval of zero") << three << 0 << 1;
    QTest::newRow("negative interval") << QStringList{"ntp1.example"} << -5 << 1;
}

void PollCycleTest::shouldPollEachServerInTurnThenRestForNtpPoll()
{
    QFETCH(QStringList, servers);
    QFETCH(int, ntpPoll);
    QFETCH(int, ticksToNextPass);

    Rig rig(servers);
    rig.settings.NtpPoll = ntpPoll;
    QSignalSpy labels(&rig.cycle, &PollCycle::labelsChanged);
    rig.start();

    for (int row = 1; row <= servers.size(); ++row) {
        QCOMPARE(rig.cycle.PollRow(), row);
        QCOMPARE(rig.status(row), "Polling");
        QCOMPARE(rig.cycle.PollCountdown(), PollCycle::TicksToAnswer);
        QCOMPARE(rig.channel.sent.size(), row);
        QCOMPARE(rig.channel.sent.last().host, servers.at(row - 1));
        QCOMPARE(rig.lastRequest().size(), 48);
        if (row < servers.size())
            QCOMPARE(rig.status(row + 1), "Wait");

        rig.answer(withOffset(0.125, 1, 200));
        QCOMPARE(rig.status(row), "OK");
        QCOMPARE(rig.cell(row, ServerTable::ColOffset), "0.125");
        QCOMPARE(rig.cell(row, ServerTable::ColRoundTrip), "0.200");
    }

    QCOMPARE(rig.cycle.PollRow(), 0);
    QCOMPARE(rig.cycle.PollCountdown(), ntpPoll);
    QVERIFY(!rig.channel.isOpen);
    // 15:13:22.4 plus 200 ms per server, to the nearest second.
    QCOMPARE(rig.cycle.LabelPoll(), "10/03/2006 15:13:23");
    QCOMPARE(labels.count(), 1);

    rig.tick(ticksToNextPass - 1);
    QCOMPARE(rig.channel.sent.size(), servers.size());
    rig.tick();
    QCOMPARE(rig.channel.sent.size(), servers.size() + 1);
    QCOMPARE(rig.cycle.PollRow(), 1);
    QCOMPARE(rig.status(1), "Polling");
}

void PollCycleTest::shouldMarkUnansweredServerTimedoutOnTheTenthTick_data()
{
    QTest::addColumn<FakeUdpChannel::Readiness>("readiness");
    QTest::addColumn<bool>("sendSucceeds");

    QTest::newRow("server never answers") << FakeUdpChannel::Readiness::AtOnce << true;
    QTest::newRow("name never resolves") << FakeUdpChannel::Readiness::Never << true;
    QTest::newRow("send refused") << FakeUdpChannel::Readiness::AtOnce << false;
}

void PollCycleTest::shouldMarkUnansweredServerTimedoutOnTheTenthTick()
{
    QFETCH(FakeUdpChannel::Readiness, readiness);
    QFETCH(bool, sendSucceeds);

    Rig rig({"quiet.example", "next.example"});
    rig.start();
    rig.answer(withOffset(0.0, 2));
    rig.answer();
    rig.channel.readiness = readiness;
    rig.channel.sendSucceeds = sendSucceeds;
    rig.tick(60);
    QCOMPARE(rig.status(1), "Polling");

    rig.tick(9);
    QCOMPARE(rig.status(1), "Polling");
    QVERIFY(rig.isNormal(1));
    QCOMPARE(rig.cycle.PollRow(), 1);

    rig.tick();
    QCOMPARE(rig.status(1), "Timedout");
    QVERIFY(rig.isRed(1));
    QCOMPARE(rig.cell(1, ServerTable::ColStratum), "2"); // from the last reply
    QCOMPARE(rig.cycle.PollRow(), 2);
    QCOMPARE(rig.status(2), "Polling");
    QCOMPARE(rig.channel.remoteHost, "next.example");
    QVERIFY(rig.messages.shown.isEmpty());
}

void PollCycleTest::shouldClearRedWhenTimedOutServerAnswersLater()
{
    Rig rig({"late.example"});
    rig.start();
    rig.tick(10);
    QCOMPARE(rig.status(1), "Timedout");
    QVERIFY(rig.isRed(1));

    rig.tick(60);
    rig.answer();
    QCOMPARE(rig.status(1), "OK");
    QVERIFY(rig.isNormal(1));
}

void PollCycleTest::shouldTimeOutOutstandingRequestAtTickAfterCountdownReset()
{
    Rig rig({"first.example", "second.example"});
    rig.start();
    rig.tick(3);

    rig.cycle.setPollCountdown(0); // an add-server or options OK
    rig.tick();
    QCOMPARE(rig.status(1), "Timedout");
    QVERIFY(rig.isRed(1));
    QCOMPARE(rig.status(2), "Polling");
    QCOMPARE(rig.cycle.PollCountdown(), PollCycle::TicksToAnswer);
}

void PollCycleTest::shouldStartNextPassAtTickAfterCountdownReset()
{
    Rig rig({"first.example"});
    rig.start();
    rig.answer();
    rig.tick(5);
    QCOMPARE(rig.channel.sent.size(), 1);

    rig.cycle.setPollCountdown(0);
    rig.tick();
    QCOMPARE(rig.channel.sent.size(), 2);
    QCOMPARE(rig.status(1), "Polling");
}

void PollCycleTest::shouldStampRequestWhenAddressIsKnown()
{
    Rig rig({"slow-dns.example"});
    rig.channel.readiness = FakeUdpChannel::Readiness::OnDemand;
    rig.start();
    QCOMPARE(rig.status(1), "Polling");
    QCOMPARE(rig.channel.connectedHosts, QStringList{"slow-dns.example"});
    QVERIFY(rig.channel.sent.isEmpty());

    rig.clock.advanceMs(3000); // the name lookup
    const double sendTime = NowNtpSeconds(rig.clock);
    rig.channel.becomeReady();
    QCOMPARE(rig.channel.sent.size(), 1);
    QVERIFY(qAbs(rig.cycle.RequestSendTime() - sendTime) < 1e-6);

    emit rig.channel.ready(); // a second ready must not send a second request
    QCOMPARE(rig.channel.sent.size(), 1);

    rig.answer(withOffset(0.0, 1, 20));
    QCOMPARE(rig.cell(1, ServerTable::ColRoundTrip), "0.020");

    emit rig.channel.ready(); // resting: nothing to send
    QCOMPARE(rig.channel.sent.size(), 1);
}

void PollCycleTest::shouldLeaveOperatorsCurrentRowAlone()
{
    Rig rig({"a.example", "b.example", "c.example"});
    rig.table.setRow(2);
    rig.start();
    rig.answer();
    rig.tick(10); // b times out
    Answer unsynchronised;
    unsynchronised.leap = 3;
    rig.answer(unsynchronised);

    QVERIFY(rig.isRed(2));
    QVERIFY(rig.isRed(3));
    QCOMPARE(rig.table.Row(), 2);
}

void PollCycleTest::shouldColourRowByThresholds_data()
{
    QTest::addColumn<int>("stratum");
    QTest::addColumn<double>("referenceAge");
    QTest::addColumn<bool>("red");

    // StratumHighlight 2, RefTimeHighlight 600
    QTest::newRow("within both") << 1 << 64.0 << false;
    QTest::newRow("stratum equal to threshold") << 2 << 64.0 << false;
    QTest::newRow("stratum one above") << 3 << 64.0 << true;
    QTest::newRow("reference age equal to threshold") << 1 << 600.0 << false;
    QTest::newRow("reference age 1 ms above") << 1 << 600.001 << true;
    QTest::newRow("no reference time") << 1 << 0.0 << true;
}

void PollCycleTest::shouldColourRowByThresholds()
{
    QFETCH(int, stratum);
    QFETCH(double, referenceAge);
    QFETCH(bool, red);

    // Binary fractions throughout, so that an age equal to the threshold is exactly equal.
    Rig rig({"a.example"}, QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 125), Qt::UTC));
    rig.settings.StratumHighlight = 2;
    rig.settings.RefTimeHighlight = 600;
    rig.start();
    rig.tick(10); // red from a time-out first, so that "not red" is a change
    rig.tick(60);
    Answer answer;
    answer.stratum = stratum;
    answer.arrivalMs = 0;
    answer.referenceAge = referenceAge;
    rig.answer(answer);

    QCOMPARE(rig.status(1), "OK");
    QCOMPARE(rig.isRed(1), red);
    QCOMPARE(rig.isNormal(1), !red);
}

void PollCycleTest::shouldShowKissCodeButNeverSetClockFromIt()
{
    Rig rig({"busy.example"});
    rig.settings.SysTimeAdj = 1;
    rig.start();
    Answer kiss = withOffset(0.001, 0);
    kiss.referenceId = {'R', 'A', 'T', 'E'};
    rig.answer(kiss);

    QCOMPARE(rig.cell(1, ServerTable::ColReference), "RATE");
    QCOMPARE(rig.cell(1, ServerTable::ColStratum), "0");
    QVERIFY(rig.isRed(1));
    QVERIFY(rig.clock.setCalls.isEmpty());
    QCOMPARE(rig.cycle.LabelSync(), "None");
    QCOMPARE(rig.cycle.LabelAdjust(), "None");
}

void PollCycleTest::shouldIgnoreDatagramThatDoesNotAnswerTheRequest_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("staleOriginate");

    QTest::newRow("no octets") << 0 << 4 << false;
    QTest::newRow("one octet") << 1 << 4 << false;
    QTest::newRow("47 octets") << 47 << 4 << false;
    QTest::newRow("client mode 3") << 48 << 3 << false;
    QTest::newRow("symmetric mode 1") << 48 << 1 << false;
    QTest::newRow("broadcast mode 5") << 48 << 5 << false;
    QTest::newRow("stale originate") << 48 << 4 << true;
}

void PollCycleTest::shouldIgnoreDatagramThatDoesNotAnswerTheRequest()
{
    QFETCH(int, length);
    QFETCH(int, mode);
    QFETCH(bool, staleOriginate);

    Rig rig({"a.example", "b.example"});
    rig.start();
    rig.tick(2);
    Answer bad = withOffset(5.0, 1);
    bad.mode = mode;
    bad.staleOriginate = staleOriginate;
    const int closes = rig.channel.closeCalls;
    rig.deliver(rig.replyToLast(bad).left(length));

    QCOMPARE(rig.status(1), "Polling");
    QCOMPARE(rig.cell(1, ServerTable::ColOffset), "");
    QCOMPARE(rig.cycle.PollRow(), 1);
    QCOMPARE(rig.cycle.PollCountdown(), 8);
    QCOMPARE(rig.channel.closeCalls, closes);
    QCOMPARE(rig.channel.sent.size(), 1);

    rig.answer(withOffset(0.25));
    QCOMPARE(rig.status(1), "OK");
    QCOMPARE(rig.cell(1, ServerTable::ColOffset), "0.250");
    QCOMPARE(rig.cycle.PollRow(), 2);
}

void PollCycleTest::shouldIgnoreSecondAnswerToOneRequest()
{
    Rig rig({"a.example", "b.example"});
    rig.start();
    const QByteArray first = rig.replyToLast(withOffset(0.25));
    rig.deliver(first);
    QCOMPARE(rig.status(1), "OK");

    rig.deliver(first);
    QCOMPARE(rig.status(2), "Polling");
    QCOMPARE(rig.cycle.PollRow(), 2);
    QCOMPARE(rig.channel.sent.size(), 2);

    rig.answer(withOffset(-0.5));
    QCOMPARE(rig.cell(2, ServerTable::ColOffset), "-0.500");
    QCOMPARE(rig.cell(1, ServerTable::ColOffset), "0.250");
}

void PollCycleTest::shouldIgnoreAnswerThatComesAfterTheTimeout()
{
    Rig rig({"a.example", "b.example"});
    rig.start();
    const QByteArray late = rig.replyToLast(withOffset(0.25));
    rig.tick(10);
    QCOMPARE(rig.status(1), "Timedout");

    rig.deliver(late);
    QCOMPARE(rig.status(1), "Timedout");
    QVERIFY(rig.isRed(1));
    QCOMPARE(rig.status(2), "Polling");

    rig.answer(withOffset(-0.5));
    QCOMPARE(rig.status(2), "OK");
    QCOMPARE(rig.cell(2, ServerTable::ColOffset), "-0.500");
}

void PollCycleTest::shouldIgnoreDatagramWhileResting()
{
    Rig rig({"a.example"});
    rig.start();
    const double sendTime = rig.cycle.RequestSendTime();
    rig.answer();
    rig.tick(5);

    // Zero originate would pass the reply's own checks; resting, nothing is waiting for it.
    ServerReply unasked;
    unasked.receiveTime = sendTime + 5.0;
    unasked.transmitTime = sendTime + 5.0;
    rig.channel.deliver(encode(unasked));

    QCOMPARE(rig.cycle.PollRow(), 0);
    QCOMPARE(rig.cycle.PollCountdown(), 55);
    QCOMPARE(rig.channel.sent.size(), 1);
    QCOMPARE(rig.cell(1, ServerTable::ColOffset), "0.000");
}

void PollCycleTest::shouldWorkInTheNtpEraOfTheLocalClock_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QString>("referenceTime");
    QTest::addColumn<QDateTime>("clockSetTo");

    const auto utc = [](int y, int mo, int d, int h, int mi, int s, int ms) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
    };
    QTest::newRow("2006, era 0") << utc(2006, 3, 10, 15, 13, 22, 400) << "10/03/2006 15:12:19"
                                 << utc(2006, 3, 10, 15, 13, 22, 545);
    QTest::newRow("2040, era 1") << utc(2040, 6, 1, 12, 0, 0, 400) << "01/06/2040 11:58:57"
                                 << utc(2040, 6, 1, 12, 0, 0, 545);
    QTest::newRow("request in era 0, reply in era 1")
        << utc(2036, 2, 7, 6, 28, 15, 990) << "07/02/2036 06:27:12" << utc(2036, 2, 7, 6, 28, 16, 135);
}

void PollCycleTest::shouldWorkInTheNtpEraOfTheLocalClock()
{
    QFETCH(QDateTime, start);
    QFETCH(QString, referenceTime);
    QFETCH(QDateTime, clockSetTo);

    Rig rig({"a.example"}, start);
    rig.settings.SysTimeAdj = 1;
    rig.start();
    rig.answer(withOffset(0.1252, 1, 20));

    QCOMPARE(rig.cell(1, ServerTable::ColOffset), "0.125");
    QCOMPARE(rig.cell(1, ServerTable::ColRoundTrip), "0.020");
    QCOMPARE(rig.cell(1, ServerTable::ColReferenceTime), referenceTime);
    QVERIFY(rig.isNormal(1));
    QCOMPARE(rig.cycle.LabelAdjust(), "0.125 secs");
    QCOMPARE(rig.clock.now(), clockSetTo);
}

void PollCycleTest::shouldSetClockFromCandidateOnlyWhenAdjustmentIsOn_data()
{
    QTest::addColumn<int>("sysTimeAdj");
    QTest::addColumn<double>("offset");
    QTest::addColumn<QString>("labelSync");
    QTest::addColumn<QString>("labelAdjust");
    QTest::addColumn<QString>("offsetCell");
    QTest::addColumn<QTime>("clockAfter");

    // The pass ends at 15:13:22.420; the clock is set to that plus the offset, floored to the ms.
    QTest::newRow("adjustment off") << 0 << 0.2502 << "None"
                                    << "None"
                                    << "0.250" << QTime(15, 13, 22, 420);
    QTest::newRow("flag other than 1") << 2 << 0.2502 << "None"
                                       << "None"
                                       << "0.250" << QTime(15, 13, 22, 420);
    QTest::newRow("local clock behind") << 1 << 0.2502 << "a.example"
                                        << "0.250 secs"
                                        << "0.250" << QTime(15, 13, 22, 670);
    QTest::newRow("local clock ahead") << 1 << -0.2498 << "a.example"
                                       << "-0.250 secs"
                                       << "-0.250" << QTime(15, 13, 22, 170);
    QTest::newRow("offset rounding to zero") << 1 << -0.0004 << "a.example"
                                             << "0.000 secs"
                                             << "0.000" << QTime(15, 13, 22, 419);
}

void PollCycleTest::shouldSetClockFromCandidateOnlyWhenAdjustmentIsOn()
{
    QFETCH(int, sysTimeAdj);
    QFETCH(double, offset);
    QFETCH(QString, labelSync);
    QFETCH(QString, labelAdjust);
    QFETCH(QString, offsetCell);
    QFETCH(QTime, clockAfter);

    Rig rig({"a.example"});
    rig.settings.SysTimeAdj = static_cast<std::int16_t>(sysTimeAdj);
    rig.start();
    rig.answer(withOffset(offset));

    QCOMPARE(rig.clock.setCalls.size(), labelSync == "None" ? 0 : 1);
    QCOMPARE(rig.clock.now().time(), clockAfter);
    QCOMPARE(rig.cycle.LabelSync(), labelSync);
    QCOMPARE(rig.cycle.LabelAdjust(), labelAdjust);
    QCOMPARE(rig.cycle.BestStratum(), -1);
    QCOMPARE(rig.cell(1, ServerTable::ColOffset), offsetCell);
}

void PollCycleTest::shouldChooseLowestStratumThenSmallestOffset_data()
{
    QTest::addColumn<QList<Answer>>("answers");
    QTest::addColumn<QString>("labelSync");
    QTest::addColumn<QString>("labelAdjust");

    Answer unsynchronised = withOffset(0.001);
    unsynchronised.leap = 3;
    Answer leap = withOffset(0.001);
    leap.leap = 1;
    Answer kiss = withOffset(0.001, 0);
    kiss.referenceId = {'R', 'A', 'T', 'E'};
    Answer noReceive = withOffset(0.001);
    noReceive.zeroReceive = true;
    Answer noTransmit = withOffset(0.001);
    noTransmit.zeroTransmit = true;

    QTest::newRow("-0.020 then 0.010: second") << QList{withOffset(-0.020), withOffset(0.010)} << "s2"
                                               << "0.010 secs";
    QTest::newRow("0.010 then -0.010: first stays") << QList{withOffset(0.010), withOffset(-0.010)} << "s1"
                                                    << "0.010 secs";
    QTest::newRow("stratum 2 after stratum 1") << QList{withOffset(0.5, 1), withOffset(0.001, 2)} << "s1"
                                               << "0.500 secs";
    QTest::newRow("stratum 1 after stratum 2") << QList{withOffset(0.001, 2), withOffset(0.5, 1)} << "s2"
                                               << "0.500 secs";
    QTest::newRow("stratum 15 is usable") << QList{withOffset(0.5, 15)} << "s1"
                                          << "0.500 secs";
    QTest::newRow("stratum 16 is not") << QList{withOffset(0.5, 16)} << "None"
                                       << "None";
    QTest::newRow("LI 3 after a candidate") << QList{withOffset(0.5), unsynchronised} << "s1"
                                            << "0.500 secs";
    QTest::newRow("LI 3 alone") << QList{unsynchronised} << "None"
                                << "None";
    QTest::newRow("LI 1 alone") << QList{leap} << "None"
                                << "None";
    QTest::newRow("kiss-o'-death") << QList{kiss} << "None"
                                   << "None";
    QTest::newRow("zero receive timestamp") << QList{noReceive} << "None"
                                            << "None";
    QTest::newRow("zero transmit timestamp") << QList{noTransmit} << "None"
                                             << "None";
}

void PollCycleTest::shouldChooseLowestStratumThenSmallestOffset()
{
    QFETCH(QList<Answer>, answers);
    QFETCH(QString, labelSync);
    QFETCH(QString, labelAdjust);

    QStringList servers;
    for (int i = 1; i <= answers.size(); ++i)
        servers << QStringLiteral("s%1").arg(i);
    Rig rig(servers);
    rig.settings.SysTimeAdj = 1;
    rig.start();
    for (const Answer& answer : answers)
        rig.answer(answer);

    QCOMPARE(rig.cycle.PollRow(), 0);
    QCOMPARE(rig.cycle.LabelSync(), labelSync);
    QCOMPARE(rig.cycle.LabelAdjust(), labelAdjust);
    QCOMPARE(rig.clock.setCalls.size(), labelSync == "None" ? 0 : 1);
}

void PollCycleTest::shouldShowRefusedClockMessageOnlyAfterPassHasEnded()
{
    Rig rig({"a.example"});
    rig.settings.SysTimeAdj = 1;
    rig.settings.NtpPoll = 60;
    rig.clock.refuseSet = true;
    rig.start();

    int bestStratumWhileOpen = 0;
    QString labelSyncWhileOpen;
    int countdownAfterTickWhileOpen = 0;
    rig.messages.whileOpen = [&] {
        bestStratumWhileOpen = rig.cycle.BestStratum();
        labelSyncWhileOpen = rig.cycle.LabelSync();
        rig.tick();
        countdownAfterTickWhileOpen = rig.cycle.PollCountdown();
    };
    rig.answer(withOffset(0.25));

    QCOMPARE(rig.clock.setCalls.size(), 1);
    QVERIFY(rig.messages.shown.isEmpty());
    QCOMPARE(rig.cycle.LabelSync(), "None");
    QCOMPARE(rig.cycle.LabelAdjust(), "None");
    QCOMPARE(rig.cycle.BestStratum(), -1);

    QCoreApplication::processEvents();
    QCOMPARE(rig.messages.shown.size(), 1);
    const ScriptedMessageDialog::Shown& shown = rig.messages.shown.first();
    QCOMPARE(shown.text, "Unable to set system time.");
    QCOMPARE(shown.title, "Ostrelle");
    QCOMPARE(shown.icon, MessageDialog::Icon::Warning);
    QCOMPARE(shown.buttons, MessageDialog::Buttons::Ok);
    QCOMPARE(bestStratumWhileOpen, -1);
    QCOMPARE(labelSyncWhileOpen, "None");
    QCOMPARE(countdownAfterTickWhileOpen, 59);
}

void PollCycleTest::shouldKeepPollStateWithTheServerWhenARowIsRemoved_data()
{
    QTest::addColumn<int>("removedRow");
    QTest::addColumn<int>("pollRowAfter");
    QTest::addColumn<bool>("abandoned");

    // b.example, row 2 of three, is being polled.
    QTest::newRow("row above the polled one") << 1 << 1 << false;
    QTest::newRow("the polled row") << 2 << 1 << true;
    QTest::newRow("row below the polled one") << 3 << 2 << false;
}

void PollCycleTest::shouldKeepPollStateWithTheServerWhenARowIsRemoved()
{
    QFETCH(int, removedRow);
    QFETCH(int, pollRowAfter);
    QFETCH(bool, abandoned);

    Rig rig({"a.example", "b.example", "c.example"});
    rig.start();
    rig.answer();
    QCOMPARE(rig.cycle.PollRow(), 2);
    const QByteArray answerForB = rig.replyToLast(withOffset(0.25));

    rig.table.RemoveItem(removedRow);
    rig.cycle.serverRowRemoved(removedRow);
    QCOMPARE(rig.cycle.PollRow(), pollRowAfter);
    QCOMPARE(rig.channel.isOpen, !abandoned);

    rig.deliver(answerForB);
    if (!abandoned) {
        QCOMPARE(rig.cell(pollRowAfter, ServerTable::ColServer), "b.example");
        QCOMPARE(rig.status(pollRowAfter), "OK");
        QCOMPARE(rig.cell(pollRowAfter, ServerTable::ColOffset), "0.250");
        return;
    }
    // Neither b's answer nor its time-out is written anywhere; c moves into b's turn.
    QCOMPARE(rig.status(2), "Wait");
    QCOMPARE(rig.cell(2, ServerTable::ColOffset), "");
    rig.tick(10);
    QCOMPARE(rig.cell(2, ServerTable::ColServer), "c.example");
    QCOMPARE(rig.status(2), "Polling");
    QVERIFY(rig.isNormal(2));
    QCOMPARE(rig.status(1), "OK");
    QVERIFY(rig.isNormal(1));
    QCOMPARE(rig.channel.remoteHost, "c.example");
}

void PollCycleTest::shouldForgetCandidateWhenItsServerIsRemoved()
{
    Rig rig({"a.example", "b.example", "c.example"});
    rig.settings.SysTimeAdj = 1;
    rig.start();
    rig.answer(withOffset(0.5, 2));
    rig.answer(withOffset(0.25, 1)); // b is the candidate, c is polled

    rig.table.RemoveItem(1);
    rig.cycle.serverRowRemoved(1);
    rig.table.RemoveItem(1); // b, now in row 1
    rig.cycle.serverRowRemoved(1);
    QCOMPARE(rig.cycle.PollRow(), 1);
    QCOMPARE(rig.cycle.BestStratum(), -1);

    rig.answer(withOffset(0.125, 3));
    QCOMPARE(rig.cycle.LabelSync(), "c.example");
    QCOMPARE(rig.cycle.LabelAdjust(), "0.125 secs");
}

void PollCycleTest::shouldPollServerAddedAfterClearAllAsFreshServer_data()
{
    QTest::addColumn<int>("polledRow");

    QTest::newRow("cleared while row 1 was polled") << 1;
    QTest::newRow("cleared while row 2 was polled") << 2;
    QTest::newRow("cleared while the last row was polled") << 3;
}

void PollCycleTest::shouldPollServerAddedAfterClearAllAsFreshServer()
{
    QFETCH(int, polledRow);

    Rig rig({"a.example", "b.example", "c.example"});
    rig.settings.SysTimeAdj = 1;
    rig.start();
    for (int row = 1; row < polledRow; ++row)
        rig.answer(withOffset(0.5));
    const QByteArray lateAnswer = rig.replyToLast(withOffset(0.75));

    rig.table.Clear();
    rig.table.RemoveAllRows();
    rig.cycle.tableCleared();
    QVERIFY(!rig.channel.isOpen);
    rig.tick(2);

    rig.table.AddServerRow("fresh.example");
    rig.cycle.setPollCountdown(0);
    rig.tick();
    QCOMPARE(rig.status(1), "Polling");
    QVERIFY(rig.isNormal(1));
    QCOMPARE(rig.channel.remoteHost, "fresh.example");

    rig.deliver(lateAnswer);
    QCOMPARE(rig.status(1), "Polling");

    rig.answer(withOffset(0.125, 2));
    QCOMPARE(rig.status(1), "OK");
    QCOMPARE(rig.cycle.LabelSync(), "fresh.example");
    QCOMPARE(rig.cycle.LabelAdjust(), "0.125 secs");
}

void PollCycleTest::shouldReportSocketErrorAfterHandlerReturnedThenAskToEnd()
{
    Rig rig({"a.example"});
    rig.start();
    QSignalSpy acknowledged(&rig.cycle, &PollCycle::fatalErrorAcknowledged);
    int acknowledgedWhileOpen = -1;
    rig.messages.whileOpen = [&] { acknowledgedWhileOpen = acknowledged.count(); };

    rig.channel.fail(QStringLiteral("Permission denied"));
    QVERIFY(rig.messages.shown.isEmpty());
    QCOMPARE(acknowledged.count(), 0);

    QCoreApplication::processEvents();
    QCOMPARE(rig.messages.shown.size(), 1);
    const ScriptedMessageDialog::Shown& shown = rig.messages.shown.first();
    QCOMPARE(shown.text, "Socket Error: Permission denied");
    QCOMPARE(shown.title, "Brevikon Ostrelle");
    QCOMPARE(shown.icon, MessageDialog::Icon::Critical);
    QCOMPARE(shown.buttons, MessageDialog::Buttons::Ok);
    QCOMPARE(acknowledgedWhileOpen, 0);
    QCOMPARE(acknowledged.count(), 1);
}

QTEST_GUILESS_MAIN(PollCycleTest)
#include "test_pollcycle.moc"
