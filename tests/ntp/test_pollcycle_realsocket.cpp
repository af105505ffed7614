#include "platform/nativeudpchannel.h"
#include "pollcyclerig.h"
#include "tests/support/ntpresponder.h"
#include "timekeeping/ntptime.h"

#include <QLocale>
#include <QTest>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

constexpr int WaitMs = 5000;

// The poll cycle over the real socket, polling servers on loopback at the port of the test's
// responder, which answers by the fake clock. Dropping replies from other senders, and hearing
// replies again after an ICMP refusal, are the socket's own and pinned in its test.
struct CycleRig : PollCycleRig<NativeUdpChannel>
{
    explicit CycleRig(NtpResponder& responder) : PollCycleRig(responder.port(), 0)
    {
        responder.now = [this] { return NowNtpSeconds(clock); };
    }
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
        monitor.model.addServer(responder.address().toString());
        monitor.tick(); // start-up: the first tick at once
        QTRY_COMPARE_WITH_TIMEOUT(monitor.cell(1), "OK", WaitMs);

        QStringList row;
        for (int col = 0; col < int(ServerColumn::Count); ++col)
            row << monitor.cell(1, ServerColumn(col));
        // The fake clock stands at 15:13:23.125; the server is 0.25 s ahead and synchronised 16 s ago.
        QCOMPARE(row.join('|'), "127.0.0.1|OK|4|1|GPS|10/03/2006 15:13:07|0.000|0.250");
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
        monitor.model.addServer(server.isEmpty() ? responder.address().toString() : server);
        monitor.tick(); // start-up: the first tick at once
        QTRY_VERIFY_WITH_TIMEOUT(
            server.isEmpty() ? responder.requestCount() == 1 : !monitor.channel.isLookingUp(), WaitMs);

        monitor.tick(PollCycle::TicksToAnswer);
        QCoreApplication::processEvents(); // a queued socket error would be reported now
        QCOMPARE(monitor.cell(1), "Timedout");
        QVERIFY(monitor.messages.shown.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPollCycleRealSocket)
#include "test_pollcycle_realsocket.moc"
