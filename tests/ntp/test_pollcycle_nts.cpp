#include "platform/fakes/fakeudpchannel.h"
#include "pollcyclerig.h"
#include "serverreply.h"
#include "tests/ntp/ntsserverside.h"

#include <QSignalSpy>
#include <QTest>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

// Nothing listens on port 1 of loopback: a key exchange there fails at once.
const QString Server = QStringLiteral("nts://127.0.0.1:1");
const QByteArray C2sKey(32, '\x11');
const QByteArray S2cKey(32, '\x22');
constexpr quint16 NtpPort = 12300;

QList<QByteArray> cookies(int count)
{
    QList<QByteArray> list;
    for (int i = 0; i < count; ++i)
        list.append(QByteArray(99, 'c') + char('0' + i));
    return list;
}

enum class Forgery { None, AuthenticatorBit };

// The poll cycle over one nts:// server whose key exchange has already given it keys and cookies,
// and the server's side of the NTP exchange played through the fake channel.
struct NtsRig : PollCycleRig<FakeUdpChannel>
{
    explicit NtsRig(int cookieCount = NtsCookiesToKeep)
    {
        model.addServer(Server);
        NtsKeResult keys;
        keys.ok = true;
        keys.c2sKey = C2sKey;
        keys.s2cKey = S2cKey;
        keys.cookies = cookies(cookieCount);
        keys.ntpServer = QStringLiteral("127.0.0.1");
        keys.ntpPort = NtpPort;
        keys.certificate = {QStringLiteral("CN=time.test"), QStringLiteral("CN=Test CA"),
                            QDateTime(QDate(2030, 1, 1), QTime(0, 0), QTimeZone::utc())};
        session()->adoptKeyExchange(keys);
        settings.adjustClock = true;
        cycle.setSettings(settings);
    }

    NtsSession* session() { return cycle.ntsSessions().sessionFor(Server); }

    // The reply to the last request, 0.5 s ahead of us, as the server would send it (or forge it).
    QByteArray reply(Forgery forgery = Forgery::None, int newCookies = 1) const
    {
        const QByteArray request = channel.sent.last().datagram;
        const NtsRequestSeen seen = ReadNtsRequest(request, c2s);
        const double T = NowNtpSeconds(clock) + 0.5;
        const QByteArray header =
            encode({0, 4, NtpModeServer, 2, {'L', 'O', 'C', 'L'}, T - 16, transmitOf(request), T, T});
        QByteArray reply = BuildNtsReply(seen.uniqueId, cookies(newCookies), s2c, header);
        if (forgery == Forgery::AuthenticatorBit)
            reply[reply.size() - 1] = char(reply.back() ^ 0x01);
        return reply;
    }

    AesSivCmac256 c2s{C2sKey};
    AesSivCmac256 s2c{S2cKey};
};

} // namespace

class PollCycleNtsTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldTrustOnlyAnAuthenticatedReply_data()
    {
        QTest::addColumn<Forgery>("forgery");
        QTest::addColumn<QString>("reason");
        QTest::newRow("authentic") << Forgery::None << "";
        // Each way a reply fails to verify is pinned in the session's test; the cycle treats them alike.
        QTest::newRow("one bit altered") << Forgery::AuthenticatorBit << "NTS: authentication failed";
    }

    void shouldTrustOnlyAnAuthenticatedReply()
    {
        QFETCH(Forgery, forgery);
        QFETCH(QString, reason);
        NtsRig rig;
        rig.cycle.start();

        // The request goes where the key exchange said, authenticated, with this step's nonce.
        QCOMPARE(rig.channel.sent.size(), 1);
        const FakeUdpChannel::Sent request = rig.channel.sent.first();
        QCOMPARE(request.host, QString("127.0.0.1"));
        QCOMPARE(request.port, NtpPort);
        const NtsRequestSeen seen = ReadNtsRequest(request.datagram, rig.c2s);
        QVERIFY(seen.authentic);
        QVERIFY(transmitOf(request.datagram) == rig.cycle.requestNonce());

        rig.clock.advanceMs(20);
        rig.channel.deliver(rig.reply(forgery));
        if (!reason.isEmpty())
            rig.tick(PollCycle::TicksToAnswer);

        const ServerRecord& row = rig.model.record(0);
        const QModelIndex name = rig.model.index(0, int(ServerColumn::Name));
        QCOMPARE(rig.cycle.pollRow(), -1);
        QCOMPARE(row.nts.reason, reason);
        QCOMPARE(row.problems.testFlag(ServerProblem::NtsRefused), !reason.isEmpty());
        QCOMPARE(row.unhealthy(), !reason.isEmpty());
        QCOMPARE(row.everAnswered, reason.isEmpty());
        QCOMPARE(rig.model.data(name, Qt::DecorationRole).isValid(), reason.isEmpty());
        QCOMPARE(rig.clock.setCalls.size(), reason.isEmpty() ? 1 : 0);
        const QString tooltip = rig.model.data(name, Qt::ToolTipRole).toString();
        if (reason.isEmpty()) {
            QCOMPARE(ServerCellText(row, ServerColumn::Status), QString("OK"));
            QVERIFY2(tooltip.contains("CN=time.test") && tooltip.contains("CN=Test CA") &&
                         tooltip.contains("2030"),
                     qPrintable(tooltip));
        } else {
            // The NTS reason comes first; the time-out it led to follows.
            QVERIFY2(tooltip.startsWith(reason + QStringLiteral("; No reply")), qPrintable(tooltip));
        }
    }

    void shouldExchangeKeysAgainWhenTheServerAsks_data()
    {
        QTest::addColumn<int>("cookiesHeld");
        QTest::addColumn<bool>("nak");
        QTest::addColumn<bool>("newKeyExchange");
        QTest::newRow("cookies renewed") << NtsCookiesToKeep << false << false;
        QTest::newRow("NAK") << NtsCookiesToKeep << true << true;
        QTest::newRow("last cookie spent") << 1 << false << true;
    }

    void shouldExchangeKeysAgainWhenTheServerAsks()
    {
        QFETCH(int, cookiesHeld);
        QFETCH(bool, nak);
        QFETCH(bool, newKeyExchange);
        NtsRig rig(cookiesHeld);
        rig.cycle.start();
        const QByteArray uniqueId = ReadNtsRequest(rig.channel.sent.last().datagram, rig.c2s).uniqueId;
        rig.channel.deliver(nak ? BuildNtsNak(uniqueId) : rig.reply(Forgery::None, 0));
        if (nak)
            rig.tick(PollCycle::TicksToAnswer);
        QCOMPARE(rig.cycle.pollRow(), -1);

        QSignalSpy finished(rig.session(), &NtsSession::keyExchangeFinished);
        rig.tick(rig.settings.pollIntervalSeconds);
        QCOMPARE(rig.cycle.pollRow(), 0);
        QCOMPARE(rig.session()->keyExchangeRunning(), newKeyExchange);
        QCOMPARE(rig.channel.sent.size(), newKeyExchange ? 1 : 2);
        if (!newKeyExchange)
            return;

        // A failed key exchange ends the step at once, the row timed out with the reason.
        QVERIFY(finished.wait(5000));
        QCOMPARE(rig.model.record(0).state, ServerState::TimedOut);
        QVERIFY(rig.model.record(0).problems.testFlag(ServerProblem::NtsRefused));
        QVERIFY2(rig.model.record(0).nts.reason.startsWith("NTS: key exchange"),
                 qPrintable(rig.model.record(0).nts.reason));
        QCOMPARE(rig.model.data(rig.model.index(0, 0), Qt::DecorationRole).isValid(), false);
    }

    void shouldForgetTheSessionWithItsServer()
    {
        NtsRig rig;
        rig.cycle.start();
        rig.model.removeServer(0);
        QCOMPARE(rig.cycle.ntsSessions().find(Server), nullptr);
        rig.tick();
        QCOMPARE(rig.channel.sent.size(), 1);
    }
};

QTEST_GUILESS_MAIN(PollCycleNtsTest)
#include "test_pollcycle_nts.moc"
