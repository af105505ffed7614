#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qtudpchannel.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"
#include "tests/support/ntpresponder.h"
#include "timekeeping/ntptime.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <vector>

using namespace ostrelle;

namespace {

constexpr int WaitMs = 5000;

// Nothing is bound to this address in these tests: requests sent there are refused by ICMP.
const QString RefusingServer = QStringLiteral("127.0.0.9");
// Fails inside the resolver, before any name server is asked.
const QString UnresolvableServer = QStringLiteral("ntp..example");

// The poll cycle of the main window over a real socket, with the fake clock and messages, polling
// servers on loopback at the port of the first responder.
struct Monitor
{
    explicit Monitor(quint16 serverPort) : channel(serverPort, 0)
    {
        settings.SysTimeAdj = 0;
        cycle = std::make_unique<PollCycle>(table, settings, channel, clock, messages);
    }

    // Start-up: the first tick is taken at once.
    void start()
    {
        cycle->setBestStratum(-1);
        cycle->setPollCountdown(0);
        cycle->TimerTimeout_Timer();
    }

    void tick(int times)
    {
        for (int i = 0; i < times; ++i)
            cycle->TimerTimeout_Timer();
    }

    QString status(int row) const { return table.TextMatrix(row, ServerTable::ColStatus); }

    bool rowIs(int row, int colour) const
    {
        for (int col = 0; col < ServerTable::ColumnCount; ++col) {
            if (table.cellColour(row, col) != colour)
                return false;
        }
        return true;
    }

    ServerTable table;
    Settings settings;
    QtUdpChannel channel;
    FakeClock clock;
    ScriptedMessageDialog messages;
    std::unique_ptr<PollCycle> cycle;
};

// Answers with the fake clock's time, so that the cycle sees exactly the offset it is given.
void followClock(NtpResponder& responder, const FakeClock& clock)
{
    responder.now = [&clock] { return NowNtpSeconds(clock); };
}

} // namespace

class TestPollCycleRealSocket : public QObject
{
    Q_OBJECT

private slots:
    void shouldFillRowFromServersReply_data();
    void shouldFillRowFromServersReply();
    void shouldPollEveryServerOfPassThenRest();
    void shouldMarkSilentServerTimedoutOnTheTenthTick();
    void shouldTimeOutUnreachableServerWithoutEndingProgram_data();
    void shouldTimeOutUnreachableServerWithoutEndingProgram();
    void shouldGetReplyFromServerAfterRefusedOne();
    void shouldIgnoreMatchingReplyFromOtherSender_data();
    void shouldIgnoreMatchingReplyFromOtherSender();
};

void TestPollCycleRealSocket::shouldFillRowFromServersReply_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("stratum");
    QTest::addColumn<double>("offset");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<QString>("offsetText");
    QTest::newRow("stratum 1 over IPv4")
        << QStringLiteral("127.0.0.1") << 1 << 0.25 << QStringLiteral("GPS") << QStringLiteral("0.250");
    QTest::newRow("stratum 2, clock ahead")
        << QStringLiteral("127.0.0.1") << 2 << -1.5 << QStringLiteral("-") << QStringLiteral("-1.500");
    QTest::newRow("stratum 1 over IPv6")
        << QStringLiteral("::1") << 1 << 0.125 << QStringLiteral("GPS") << QStringLiteral("0.125");
}

void TestPollCycleRealSocket::shouldFillRowFromServersReply()
{
    QFETCH(QString, server);
    QFETCH(int, stratum);
    QFETCH(double, offset);
    QFETCH(QString, reference);
    QFETCH(QString, offsetText);
    NtpResponder responder{QHostAddress(server)};
    if (!responder.isListening() && QHostAddress(server).protocol() == QAbstractSocket::IPv6Protocol)
        QSKIP("this machine has no IPv6 loopback");
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    Monitor monitor(responder.port());
    followClock(responder, monitor.clock);
    responder.fields.stratum = static_cast<std::uint8_t>(stratum);
    responder.fields.offset = offset;
    monitor.table.AddServerRow(server);

    monitor.start();
    QCOMPARE(monitor.status(1), QStringLiteral("Polling"));
    QTRY_COMPARE_WITH_TIMEOUT(monitor.status(1), QStringLiteral("OK"), WaitMs);

    QCOMPARE(monitor.table.TextMatrix(1, ServerTable::ColServer), server);
    QCOMPARE(monitor.table.TextMatrix(1, ServerTable::ColVersion), QStringLiteral("4"));
    QCOMPARE(monitor.table.TextMatrix(1, ServerTable::ColStratum), QString::number(stratum));
    QCOMPARE(monitor.table.TextMatrix(1, ServerTable::ColReference), reference);
    QCOMPARE(monitor.table.TextMatrix(1, ServerTable::ColRoundTrip), QStringLiteral("0.000"));
    QCOMPARE(monitor.table.TextMatrix(1, ServerTable::ColOffset), offsetText);
    QVERIFY(monitor.rowIs(1, ServerTable::ColourNormal));
    QCOMPARE(responder.requestCount(), 1);
    // One server: its reply ends the pass.
    QCOMPARE(monitor.cycle->PollRow(), 0);
    QCOMPARE(monitor.cycle->PollCountdown(), monitor.settings.NtpPoll);
    QVERIFY(monitor.messages.shown.isEmpty());
}

void TestPollCycleRealSocket::shouldPollEveryServerOfPassThenRest()
{
    NtpResponder first{QHostAddress(QStringLiteral("127.0.0.1"))};
    QVERIFY2(first.isListening(), qPrintable(first.errorString()));
    NtpResponder second{QHostAddress(QStringLiteral("127.0.0.2")), first.port()};
    QVERIFY2(second.isListening(), qPrintable(second.errorString()));
    NtpResponder third{QHostAddress(QStringLiteral("127.0.0.3")), first.port()};
    QVERIFY2(third.isListening(), qPrintable(third.errorString()));
    Monitor monitor(first.port());
    std::vector<NtpResponder*> responders{&first, &second, &third};
    for (std::size_t i = 0; i < responders.size(); ++i) {
        followClock(*responders[i], monitor.clock);
        responders[i]->fields.stratum = static_cast<std::uint8_t>(i + 1);
        monitor.table.AddServerRow(responders[i]->address().toString());
    }

    monitor.start();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.cycle->PollRow(), 0, WaitMs);

    for (int row = 1; row <= 3; ++row) {
        QCOMPARE(monitor.status(row), QStringLiteral("OK"));
        QCOMPARE(monitor.table.TextMatrix(row, ServerTable::ColStratum), QString::number(row));
    }
    for (const NtpResponder* responder : responders)
        QCOMPARE(responder->requestCount(), 1);
    QCOMPARE(monitor.cycle->PollCountdown(), monitor.settings.NtpPoll);
    QVERIFY(monitor.cycle->LabelPoll() != QStringLiteral("-"));
    QCOMPARE(monitor.cycle->LabelSync(), QStringLiteral("None"));
}

void TestPollCycleRealSocket::shouldMarkSilentServerTimedoutOnTheTenthTick()
{
    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    responder.silent = true;
    Monitor monitor(responder.port());
    monitor.table.AddServerRow(responder.address().toString());

    monitor.start();
    QTRY_COMPARE_WITH_TIMEOUT(responder.requestCount(), 1, WaitMs);
    monitor.tick(PollCycle::TicksToAnswer - 1);
    QCOMPARE(monitor.status(1), QStringLiteral("Polling"));
    QVERIFY(monitor.rowIs(1, ServerTable::ColourNormal));

    monitor.tick(1);
    QCOMPARE(monitor.status(1), QStringLiteral("Timedout"));
    QVERIFY(monitor.rowIs(1, ServerTable::ColourRed));
    QVERIFY(monitor.messages.shown.isEmpty());
}

void TestPollCycleRealSocket::shouldTimeOutUnreachableServerWithoutEndingProgram_data()
{
    QTest::addColumn<QString>("server");
    QTest::newRow("name that does not resolve") << UnresolvableServer;
    QTest::newRow("port unreachable") << RefusingServer;
}

void TestPollCycleRealSocket::shouldTimeOutUnreachableServerWithoutEndingProgram()
{
    QFETCH(QString, server);
    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    Monitor monitor(responder.port());
    QSignalSpy ended(monitor.cycle.get(), &PollCycle::fatalErrorAcknowledged);
    monitor.table.AddServerRow(server);

    monitor.start();
    if (server == RefusingServer)
        QTRY_COMPARE_WITH_TIMEOUT(monitor.channel.lastIgnoredError(), QAbstractSocket::ConnectionRefusedError,
                                  WaitMs);
    else
        QTRY_VERIFY_WITH_TIMEOUT(!monitor.channel.isLookingUp(), WaitMs);
    QCoreApplication::processEvents();
    QCOMPARE(monitor.status(1), QStringLiteral("Polling"));

    monitor.tick(PollCycle::TicksToAnswer);
    QCoreApplication::processEvents();
    QCOMPARE(monitor.status(1), QStringLiteral("Timedout"));
    QVERIFY(monitor.rowIs(1, ServerTable::ColourRed));
    QVERIFY(monitor.messages.shown.isEmpty());
    QCOMPARE(ended.count(), 0);
}

void TestPollCycleRealSocket::shouldGetReplyFromServerAfterRefusedOne()
{
    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    Monitor monitor(responder.port());
    followClock(responder, monitor.clock);
    monitor.table.AddServerRow(RefusingServer);
    monitor.table.AddServerRow(responder.address().toString());

    monitor.start();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.channel.lastIgnoredError(), QAbstractSocket::ConnectionRefusedError,
                              WaitMs);
    monitor.tick(PollCycle::TicksToAnswer);
    QCOMPARE(monitor.status(1), QStringLiteral("Timedout"));
    QCOMPARE(monitor.cycle->PollRow(), 2);

    QTRY_COMPARE_WITH_TIMEOUT(monitor.status(2), QStringLiteral("OK"), WaitMs);
    QVERIFY(monitor.rowIs(2, ServerTable::ColourNormal));
    QCOMPARE(responder.requestCount(), 1);
    QVERIFY(monitor.messages.shown.isEmpty());
}

void TestPollCycleRealSocket::shouldIgnoreMatchingReplyFromOtherSender_data()
{
    QTest::addColumn<QString>("intruderAddress");
    QTest::newRow("other loopback address") << QStringLiteral("127.0.0.2");
    QTest::newRow("server's address, other port") << QStringLiteral("127.0.0.1");
}

void TestPollCycleRealSocket::shouldIgnoreMatchingReplyFromOtherSender()
{
    QFETCH(QString, intruderAddress);
    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    responder.silent = true;
    NtpResponder intruder{QHostAddress(intruderAddress)};
    QVERIFY2(intruder.isListening(), qPrintable(intruder.errorString()));
    Monitor monitor(responder.port());
    monitor.table.AddServerRow(responder.address().toString());

    monitor.start();
    QTRY_COMPARE_WITH_TIMEOUT(responder.requestCount(), 1, WaitMs);
    const QByteArray request = responder.lastRequest();
    const double now = NowNtpSeconds(monitor.clock);

    // Answers our very request, so only the socket can tell it apart: it must never be read.
    NtpReplyFields forged;
    forged.stratum = 1;
    forged.offset = 30.0;
    QVERIFY(intruder.sendTo(BuildNtpReply(request, forged, now), responder.lastPeerAddress(),
                            responder.lastPeerPort()));
    NtpReplyFields genuine;
    genuine.stratum = 3;
    genuine.offset = 0.5;
    QVERIFY(responder.sendTo(BuildNtpReply(request, genuine, now), responder.lastPeerAddress(),
                             responder.lastPeerPort()));

    QTRY_COMPARE_WITH_TIMEOUT(monitor.status(1), QStringLiteral("OK"), WaitMs);
    QCOMPARE(monitor.table.TextMatrix(1, ServerTable::ColStratum), QStringLiteral("3"));
    QCOMPARE(monitor.table.TextMatrix(1, ServerTable::ColOffset), QStringLiteral("0.500"));
}

QTEST_GUILESS_MAIN(TestPollCycleRealSocket)
#include "test_pollcycle_realsocket.moc"
