#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "serverreply.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

constexpr int Red = ServerTable::ColourRed;
constexpr int Normal = ServerTable::ColourNormal;

// How a server answers: its clock is offset ahead of ours; the reply reaches us 20 ms after it is
// built, at the middle of the path.
struct Answer
{
    double offset = 0.0;
    int stratum = 1;
    int leap = 0;
    bool staleOriginate = false;
};

using Answers = QList<Answer>;

Answer at(double offset, int stratum = 1)
{
    return Answer{.offset = offset, .stratum = stratum};
}

// The poll cycle over a table of servers, with every seam faked; the clock starts at
// 2006-03-10 15:13:22.400 UTC.
struct Rig
{
    explicit Rig(const QStringList& servers)
        : clock(QDateTime(QDate(2006, 3, 10), QTime(15, 13, 22, 400), Qt::UTC))
    {
        for (const QString& server : servers)
            table.AddServerRow(server);
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

    // The server's answer to the request last sent, as it will be when it arrives.
    QByteArray replyToLast(const Answer& a) const
    {
        const double T1 = cycle.RequestSendTime();
        const double T2 = T1 + (NowNtpSeconds(clock) + 0.020 - T1) / 2.0 + a.offset;
        const Timestamp originate =
            a.staleOriginate ? SecondsToNtpTimestamp(T1 - 64.0) : transmitOf(channel.sent.last().datagram);
        // A kiss-o'-death (stratum 0) carries its code where the reference identifier goes.
        const std::array<std::uint8_t, 4> id{'R', 'A', 'T', 'E'};
        return encode({a.leap, 4, NtpModeServer, a.stratum, a.stratum == 0 ? id : ServerReply{}.referenceId,
                       T2 - 64.0, originate, T2, T2});
    }

    void deliver(const QByteArray& reply)
    {
        clock.advanceMs(20);
        channel.deliver(reply);
    }
    void answer(const Answer& a = {}) { deliver(replyToLast(a)); }

    QString cell(int row, int col) const { return table.TextMatrix(row, col); }
    QString status(int row) const { return cell(row, ServerTable::ColStatus); }
    QStringList column(int col) const
    {
        QStringList cells;
        for (int row = 1; row < table.Rows(); ++row)
            cells << cell(row, col);
        return cells;
    }
    // The cycle colours whole rows; one cell tells the row's colour.
    int colour(int row) const { return table.cellColour(row, ServerTable::ColOffset); }

    ServerTable table;
    Settings settings;
    FakeUdpChannel channel;
    FakeClock clock;
    ScriptedMessageDialog messages;
    PollCycle cycle{table, settings, channel, clock, messages};
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
        QCOMPARE(rig.cycle.PollCountdown(), 1);
        rig.tick();
        QCOMPARE(rig.cycle.PollCountdown(), 60);
        QVERIFY(rig.channel.connectedHosts.isEmpty());
        QCOMPARE(rig.cycle.LabelPoll(), "-");
    }

    void shouldPollEachServerInTurnThenRestForNtpPoll_data()
    {
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<int>("ntpPoll");
        QTest::addColumn<int>("ticksToNextPass");

        QTest::newRow("three servers")
            << QStringList{"ntp1.example", "192.0.2.7", "2001:db8::123"} << 60 << 60;
        QTest::newRow("a single server, blanks kept") << QStringList{" ntp1.example "} << 60 << 60;
        QTest::newRow("interval of zero") << QStringList{"ntp1.example"} << 0 << 1;
    }

    void shouldPollEachServerInTurnThenRestForNtpPoll()
    {
        QFETCH(QStringList, servers);
        QFETCH(int, ntpPoll);
        QFETCH(int, ticksToNextPass);
        Rig rig(servers);
        rig.settings.NtpPoll = ntpPoll;
        rig.table.setRow(1); // the operator's choice, which the cells written below never move
        QSignalSpy labels(&rig.cycle, &PollCycle::labelsChanged);
        rig.start();

        for (int row = 1; row <= servers.size(); ++row) {
            QCOMPARE(rig.status(row), "Polling");
            QCOMPARE(rig.channel.sent.last().host, servers.at(row - 1));
            rig.clock.advanceMs(180);
            rig.answer(at(0.125));
        }
        QCOMPARE(rig.column(ServerTable::ColStatus), QStringList(servers.size(), "OK"));
        const QStringList row1 = {servers.first(),       "OK",    "4",    "1", "GPS",
                                  "10/03/2006 15:12:19", "0.200", "0.125"};
        for (int col = 0; col < ServerTable::ColumnCount; ++col)
            QCOMPARE(rig.cell(1, col), row1.at(col));
        // 15:13:22.4 plus 200 ms per server, to the nearest second.
        QCOMPARE(rig.cycle.LabelPoll(), "10/03/2006 15:13:23");
        QCOMPARE(labels.count(), 1);
        QCOMPARE(rig.table.Row(), 1);

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
            rig.cycle.setPollCountdown(0);
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
        QCOMPARE(rig.cell(1, ServerTable::ColRoundTrip), "0.020");
        emit rig.channel.ready(); // resting: nothing to send
        QCOMPARE(rig.channel.sent.size(), 1);
    }

    // Whatever arrives while b's request is out changes no row but b's, the cycle goes on, and the
    // clock is set only from the sound answers (0.250 s), never from the bad data (1000 s).
    void shouldSurviveBadDatagrams_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("statusOfB"); // empty: the datagram is dropped and b keeps waiting
        for (const char* kind : {"empty", "47 octets", "random octets", "stale originate", "our own request"})
            QTest::newRow(kind) << kind << "";
        QTest::newRow("second answer") << "second answer" << "OK";
        QTest::newRow("answer after time-out") << "answer after time-out" << "Timedout";
        QTest::newRow("1500 octets") << "1500 octets" << "OK";
        QTest::newRow("kiss-o'-death DENY") << "DENY" << "NO SYNC";
        QTest::newRow("LI 3") << "LI 3" << "NO SYNC";
        QTest::newRow("zero timestamps") << "zero timestamps" << "OK";
        QTest::newRow("no reference time") << "no reference time" << "OK";
    }

    void shouldSurviveBadDatagrams()
    {
        QFETCH(QString, kind);
        QFETCH(QString, statusOfB);
        Rig rig({"a.example", "b.example", "c.example"});
        rig.settings.SysTimeAdj = 1;
        rig.start();
        rig.answer(at(0.25));
        const QByteArray request = rig.channel.sent.last().datagram;
        QByteArray bad = rig.replyToLast({.offset = 1000.0, .leap = kind == "LI 3" ? 3 : 0});
        const auto kiss = [&](int stratum, int leap) {
            return encode({.leap = leap, .stratum = stratum, .referenceId = {'D', 'E', 'N', 'Y'},
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
            for (int col = 0; col < ServerTable::ColumnCount; ++col)
                texts << rig.cell(row, col) + QString::number(rig.table.cellColour(row, col));
            return texts;
        };
        const QStringList a = rowTexts(1), b = rowTexts(2);
        QStringList c = rowTexts(3);
        rig.deliver(bad);
        QCOMPARE(rowTexts(1), a);
        if (rig.cycle.PollRow() == 3)
            c[ServerTable::ColStatus] = "Polling0"; // c is polled next, and only that may show
        QCOMPARE(rowTexts(3), c);
        if (statusOfB.isEmpty())
            QCOMPARE(rowTexts(2), b);
        else
            QCOMPARE(rig.status(2), statusOfB);
        while (rig.cycle.PollRow() != 0)
            rig.answer(at(0.25)); // the real answers still count
        QCOMPARE(rig.cycle.LabelAdjust(), "0.250 secs");
        QVERIFY(rig.clock.now() < QDateTime(QDate(2006, 3, 10), QTime(15, 14), Qt::UTC));
    }

    void shouldSetClockFromTheBestCandidateOnlyWhenAdjustmentIsOn_data()
    {
        QTest::addColumn<int>("sysTimeAdj");
        QTest::addColumn<QString>("labelSync");
        QTest::addColumn<QString>("labelAdjust"); // before " secs"
        QTest::addColumn<int>("clockMs");         // the clock after the pass: 15:13:22 plus this
        QTest::addColumn<int>("lastRowColour");
        QTest::addColumn<Answers>("answers"); // from s1, s2

        // StratumHighlight 2. Each answer takes 20 ms from 15:13:22.400; the clock is set to the end of
        // pass plus the offset, floored to the millisecond.
        const auto row = &QTest::newRow;
        // clang-format off
        row("adjustment off") << 0 << "None" << "None"  << 420 << Normal << Answers{at(.2502)};
        row("flag 2")         << 2 << "None" << "None"  << 420 << Normal << Answers{at(.2502)};
        row("clock behind")   << 1 << "s1"   << "0.250" << 670 << Normal << Answers{at(.2502)};
        row("rounds to -0")   << 1 << "s1"   << "0.000" << 419 << Normal << Answers{at(-.0004)};
        row("stratum 3")      << 1 << "s1"   << "0.250" << 670 << Red    << Answers{at(.25, 3)};
        row("kiss-o'-death")  << 1 << "None" << "None"  << 420 << Red    << Answers{at(.25, 0)};
        row("-0.020, 0.010")  << 1 << "s2"   << "0.010" << 450 << Normal << Answers{at(-.0202), at(.0102)};
        row("0.010, -0.010")  << 1 << "s1"   << "0.010" << 450 << Normal << Answers{at(.0102), at(-.0102)};
        row("stratum 2 next") << 1 << "s1"   << "0.500" << 940 << Normal << Answers{at(.5002), at(.001, 2)};
        row("stratum 1 next") << 1 << "s2"   << "0.500" << 940 << Normal << Answers{at(.001, 2), at(.5002)};
        row("LI 3 next")      << 1 << "s1"   << "0.500" << 940 << Red    << Answers{at(.5002), {.leap = 3}};
        // clang-format on
    }

    void shouldSetClockFromTheBestCandidateOnlyWhenAdjustmentIsOn()
    {
        QFETCH(int, sysTimeAdj);
        QFETCH(Answers, answers);
        QFETCH(QString, labelAdjust);
        QFETCH(int, clockMs);
        Rig rig(QStringList{"s1", "s2"}.first(answers.size()));
        rig.settings.SysTimeAdj = static_cast<std::int16_t>(sysTimeAdj);
        rig.settings.StratumHighlight = 2;
        rig.start();
        for (const Answer& answer : answers)
            rig.answer(answer);
        QTEST(rig.cycle.LabelSync(), "labelSync");
        QCOMPARE(rig.cycle.LabelAdjust(), labelAdjust == "None" ? labelAdjust : labelAdjust + " secs");
        QCOMPARE(rig.clock.now().time(), QTime(15, 13, 22).addMSecs(clockMs));
        QTEST(rig.colour(answers.size()), "lastRowColour");
    }

    void shouldShowRefusedClockMessageOnlyAfterPassHasEnded()
    {
        Rig rig({"a.example"});
        rig.settings.SysTimeAdj = 1;
        rig.clock.refuseSet = true;
        rig.start();
        int bestStratumWhileOpen = 0, countdownWhileOpen = 0;
        rig.messages.whileOpen = [&] {
            bestStratumWhileOpen = rig.cycle.BestStratum();
            rig.tick();
            countdownWhileOpen = rig.cycle.PollCountdown();
        };
        rig.answer(at(0.25));
        QVERIFY(rig.messages.shown.isEmpty());
        QCOMPARE(rig.cycle.LabelSync(), "None");
        QCOMPARE(rig.cycle.LabelAdjust(), "None");

        QCoreApplication::processEvents();
        QCOMPARE(rig.messages.shown.size(), 1);
        QCOMPARE(rig.messages.shown.first().text, "Unable to set system time.");
        QCOMPARE(bestStratumWhileOpen, -1);
        QCOMPARE(countdownWhileOpen, 59);
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

        rig.table.RemoveItem(removedRow);
        rig.cycle.serverRowRemoved(removedRow);
        rig.deliver(answerForB);
        QTEST(rig.column(ServerTable::ColOffset), "offsets");
        rig.tick(10);
        QTEST(rig.column(ServerTable::ColStatus), "statuses");
    }

    void shouldForgetCandidateWhenItsServerIsRemoved()
    {
        Rig rig({"a.example", "b.example", "c.example"});
        rig.settings.SysTimeAdj = 1;
        rig.start();
        rig.answer(at(0.5, 2));
        rig.answer(at(0.25)); // b is the candidate, c is polled

        rig.table.RemoveItem(1);
        rig.cycle.serverRowRemoved(1);
        rig.table.RemoveItem(1); // b, now in row 1
        rig.cycle.serverRowRemoved(1);
        rig.answer(at(0.125, 3));
        QCOMPARE(rig.cycle.LabelSync(), "c.example");
        QCOMPARE(rig.cycle.LabelAdjust(), "0.125 secs");
    }

    void shouldPollServerAddedAfterClearAllAsFreshServer()
    {
        Rig rig({"a.example", "b.example", "c.example"});
        rig.settings.SysTimeAdj = 1;
        rig.start();
        rig.answer(at(0.5));
        rig.answer(at(0.5)); // a is the candidate, c is polled

        rig.table.RemoveAllRows(); // Clear All
        rig.cycle.tableCleared();
        QVERIFY(!rig.channel.isOpen);
        rig.table.AddServerRow("fresh.example");
        rig.cycle.setPollCountdown(0);
        rig.tick();
        QCOMPARE(rig.status(1), "Polling");
        QCOMPARE(rig.colour(1), Normal);
        rig.answer(at(0.125, 2));
        QCOMPARE(rig.cycle.LabelSync(), "fresh.example");
        QCOMPARE(rig.cycle.LabelAdjust(), "0.125 secs");
    }

    void shouldReportSocketErrorAfterHandlerReturnedThenAskToEnd()
    {
        Rig rig({"a.example"});
        rig.start();
        QSignalSpy ended(&rig.cycle, &PollCycle::fatalErrorAcknowledged);
        int endedWhileOpen = -1;
        rig.messages.whileOpen = [&] { endedWhileOpen = ended.count(); };

        rig.channel.fail(QStringLiteral("Permission denied"));
        QVERIFY(rig.messages.shown.isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(rig.messages.shown.size(), 1);
        const ScriptedMessageDialog::Shown& shown = rig.messages.shown.first();
        QCOMPARE(shown.text + " / " + shown.title, "Socket Error: Permission denied / Brevikon Ostrelle");
        QCOMPARE(shown.icon, MessageDialog::Icon::Critical);
        QCOMPARE(endedWhileOpen, 0);
        QCOMPARE(ended.count(), 1);
    }
};

QTEST_GUILESS_MAIN(PollCycleTest)
#include "test_pollcycle.moc"
