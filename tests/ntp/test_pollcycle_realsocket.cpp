#include "app/monitor.h"
#include "ntp/pollcycle.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/nativeudpchannel.h"
#include "servers/serverlistmodel.h"
#include "tests/support/ntpresponder.h"
#include "tests/support/testsystem.h"
#include "timekeeping/ntptime.h"

#include <QLocale>
#include <QTest>

using namespace ostrelle;

namespace {

constexpr int WaitMs = 5000;

// The poll cycle of the main window over a real socket, with the fake clock and messages, polling
// servers on loopback at the port of the test's responder, which answers by the fake clock.
struct CycleRig
{
    explicit CycleRig(NtpResponder& responder) : channel(responder.port(), 0)
    {
        responder.now = [this] { return NowNtpSeconds(clock); };
    }

    void tick(int times)
    {
        for (int i = 0; i < times; ++i)
            cycle.tick();
    }

    // Rows from 1, as the operator counts them.
    QString cell(int row, ServerColumn col = ServerColumn::Status) const
    {
        return servers.rowCount() >= row ? ServerCellText(servers.record(row - 1), col) : QString();
    }

    ServerListModel servers;
    NativeUdpChannel channel;
    FakeClock clock;
    ScriptedMessageDialog messages;
    PollCycle cycle{channel, clock, messages};
    // Last, so that the table and the cycle exist when they are linked.
    bool linked = (LinkServerTable(servers, cycle), true);
};

} // namespace

class TestPollCycleRealSocket : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }

    void shouldFillRowFromServersReply()
    {
        NtpResponder responder;
        QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
        responder.fields.offset = 0.25;
        CycleRig monitor(responder);
        monitor.servers.addServer(responder.address().toString());
        monitor.tick(1); // start-up: the first tick at once
        QTRY_COMPARE_WITH_TIMEOUT(monitor.cell(1), "OK", WaitMs);

        QStringList row;
        for (int col = 0; col < int(ServerColumn::Count); ++col)
            row << monitor.cell(1, ServerColumn(col));
        // The fake clock stands at 15:13:22.125; the server is 0.25 s ahead and synchronised 16 s ago.
        QCOMPARE(row.join('|'), "127.0.0.1|OK|4|1|GPS|10/03/2006 15:13:06|0.000|0.250");
    }

    void shouldTimeOutServerThatGivesNoAnswer_data()
    {
        QTest::addColumn<QString>("server"); // empty: the silent responder
        QTest::newRow("silent responder") << QString();
        // Refused by the resolver before any name server is asked.
        QTest::newRow("name that does not resolve") << QStringLiteral("ntp..example");
    }

    void shouldTimeOutServerThatGivesNoAnswer()
    {
        QFETCH(QString, server);
        NtpResponder responder;
        QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
        responder.silent = true;
        CycleRig monitor(responder);
        monitor.servers.addServer(server.isEmpty() ? responder.address().toString() : server);
        monitor.tick(1); // start-up: the first tick at once
        QTRY_VERIFY_WITH_TIMEOUT(
            server.isEmpty() ? responder.requestCount() == 1 : !monitor.channel.isLookingUp(), WaitMs);

        monitor.tick(PollCycle::TicksToAnswer);
        QCoreApplication::processEvents(); // a queued socket error would be reported now
        QCOMPARE(monitor.cell(1), "Timedout");
        QVERIFY(monitor.messages.shown.isEmpty());
    }

    void shouldGetReplyFromServerAfterRefusedOne()
    {
        NtpResponder responder;
        QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
        CycleRig monitor(responder);
        monitor.servers.addServer(QStringLiteral("127.0.0.9")); // nothing listens: ICMP port unreachable
        monitor.servers.addServer(responder.address().toString());
        monitor.tick(1); // start-up: the first tick at once
        QVERIFY(WaitForPortUnreachable(monitor.channel, WaitMs));
        monitor.tick(PollCycle::TicksToAnswer);
        QCOMPARE(monitor.cell(1), "Timedout");

        QTRY_COMPARE_WITH_TIMEOUT(monitor.cell(2), "OK", WaitMs);
        QVERIFY(monitor.messages.shown.isEmpty());
    }

    void shouldIgnoreReplyFromOtherAddress()
    {
        NtpResponder responder;
        NtpResponder intruder{QHostAddress(QStringLiteral("127.0.0.2"))};
        QVERIFY2(responder.isListening() && intruder.isListening(), qPrintable(intruder.errorString()));
        responder.fields.offset = 0.5;
        intruder.fields.offset = 30.0;
        CycleRig monitor(responder);
        // The intruder answers our very request before the server does: only the socket can tell them apart.
        connect(&responder, &NtpResponder::requestReceived, this, [&](const QByteArray& request) {
            const QByteArray forged = BuildNtpReply(request, intruder.fields, NowNtpSeconds(monitor.clock));
            QVERIFY(intruder.sendTo(forged, responder.lastPeerAddress(), responder.lastPeerPort()));
        });
        monitor.servers.addServer(responder.address().toString());
        monitor.tick(1); // start-up: the first tick at once

        QTRY_COMPARE_WITH_TIMEOUT(monitor.cell(1), "OK", WaitMs);
        QCOMPARE(monitor.cell(1, ServerColumn::Offset), "0.500");
    }
};

QTEST_GUILESS_MAIN(TestPollCycleRealSocket)
#include "test_pollcycle_realsocket.moc"
