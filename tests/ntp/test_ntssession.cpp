#include "ntp/nts/ntssession.h"
#include "tests/ntp/ntsserverside.h"

#include <QTest>

using namespace ostrelle;

namespace {

const QByteArray C2sKey(32, '\x11');
const QByteArray S2cKey(32, '\x22');

// 100 octets, as a server's cookies are: a multiple of 4, so that no padding is added.
QList<QByteArray> cookies(int count, char tag = 'c')
{
    QList<QByteArray> list;
    for (int i = 0; i < count; ++i)
        list.append(QByteArray(99, tag) + char('0' + i));
    return list;
}

NtsKeResult keyExchange(int cookieCount)
{
    NtsKeResult result;
    result.ok = true;
    result.c2sKey = C2sKey;
    result.s2cKey = S2cKey;
    result.cookies = cookies(cookieCount);
    result.ntpServer = "127.0.0.1";
    result.ntpPort = 12300;
    return result;
}

NtpPacketBytes clientHeader()
{
    NtpPacketBytes header{};
    header[0] = (4 << 3) | 3;
    header[47] = 0x42;
    return header;
}

enum class Change { None, AuthenticatorBit, HeaderBit, OtherUniqueId, NoAuthenticator, CutField };

} // namespace

class TestNtsSession : public QObject
{
    Q_OBJECT
private slots:
    // The server can read what we send: header untouched, a fresh unique identifier, the oldest
    // cookie, and enough placeholders to bring our store back to eight.
    void shouldSendARequestTheServerCanVerify_data()
    {
        QTest::addColumn<int>("held");
        QTest::addColumn<int>("placeholders");
        QTest::newRow("full store") << 8 << 0;
        QTest::newRow("last one") << 1 << 7;
    }

    void shouldSendARequestTheServerCanVerify()
    {
        QFETCH(int, held);
        QFETCH(int, placeholders);
        NtsSession session("127.0.0.1", 4460);
        QVERIFY(session.needsKeyExchange());
        QVERIFY(session.authenticatedRequest(clientHeader()).isEmpty());
        session.adoptKeyExchange(keyExchange(held));
        QVERIFY(!session.needsKeyExchange());

        const QByteArray first = session.authenticatedRequest(clientHeader());
        const NtsRequestSeen seen = ReadNtsRequest(first, AesSivCmac256(C2sKey));
        QVERIFY(seen.authentic);
        QCOMPARE(seen.header, QByteArray(reinterpret_cast<const char*>(clientHeader().data()), 48));
        QCOMPARE(seen.uniqueId.size(), 32);
        QCOMPARE(seen.cookie, cookies(1).first());
        QCOMPARE(seen.placeholders, placeholders);
        QCOMPARE(session.cookieCount(), held - 1);
        QVERIFY(!ReadNtsRequest(first, AesSivCmac256(S2cKey)).authentic);

        if (held > 1)
            QVERIFY(ReadNtsRequest(session.authenticatedRequest(clientHeader()), AesSivCmac256(C2sKey))
                        .uniqueId != seen.uniqueId);
    }

    // Only a reply that verifies and answers our request counts, and it is counted once.
    void shouldRefuseRepliesThatDoNotVerify_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<QString>("reason");
        QTest::newRow("authentic") << int(Change::None) << "";
        QTest::newRow("authenticator altered in one bit")
            << int(Change::AuthenticatorBit) << "NTS: authentication failed";
        QTest::newRow("header altered in one bit") << int(Change::HeaderBit) << "NTS: authentication failed";
        QTest::newRow("other unique identifier")
            << int(Change::OtherUniqueId) << "NTS: unique identifier mismatch";
        QTest::newRow("no authenticator") << int(Change::NoAuthenticator) << "NTS: no authenticator";
        QTest::newRow("field cut short") << int(Change::CutField) << "NTS: malformed extension field";
    }

    void shouldRefuseRepliesThatDoNotVerify()
    {
        QFETCH(int, change);
        QFETCH(QString, reason);
        NtsSession session("127.0.0.1", 4460);
        session.adoptKeyExchange(keyExchange(4));
        const NtsRequestSeen seen =
            ReadNtsRequest(session.authenticatedRequest(clientHeader()), AesSivCmac256(C2sKey));

        QByteArray uniqueId = seen.uniqueId;
        if (Change(change) == Change::OtherUniqueId)
            uniqueId[31] = char(uniqueId[31] ^ 1);
        QByteArray reply = BuildNtsReply(uniqueId, cookies(2, 'n'), AesSivCmac256(S2cKey));
        switch (Change(change)) {
        case Change::AuthenticatorBit:
            reply[reply.size() - 1] = char(reply[reply.size() - 1] ^ 0x80);
            break;
        case Change::HeaderBit:
            reply[40] = char(reply[40] ^ 0x01);
            break;
        case Change::NoAuthenticator:
            reply.truncate(48 + 36);
            break;
        case Change::CutField:
            reply.chop(4);
            break;
        default:
            break;
        }

        const NtsReplyCheck check = session.verifyReply(reply);
        QCOMPARE(check.reason(), reason);
        QCOMPARE(check.accepted(), reason.isEmpty());
        QCOMPARE(session.cookieCount(), check.accepted() ? 5 : 3);
        QCOMPARE(check.cookies, check.accepted() ? cookies(2, 'n') : QList<QByteArray>());
        if (check.accepted())
            QVERIFY(!session.verifyReply(reply).accepted());
    }

    // A NAK echoing our request, or a reply that leaves us without cookies, means the next poll
    // must start with a key exchange; a NAK for someone else's request changes nothing.
    void shouldNeedKeyExchangeAfterNakOrLastCookie_data()
    {
        QTest::addColumn<int>("held");
        QTest::addColumn<int>("returned");
        QTest::addColumn<bool>("nak");
        QTest::addColumn<bool>("ownRequest");
        QTest::addColumn<bool>("needsKeyExchange");
        QTest::newRow("NAK") << 5 << 0 << true << true << true;
        QTest::newRow("NAK for another request") << 5 << 0 << true << false << false;
        QTest::newRow("last cookie, none back") << 1 << 0 << false << true << true;
        QTest::newRow("last cookie, one back") << 1 << 1 << false << true << false;
    }

    void shouldNeedKeyExchangeAfterNakOrLastCookie()
    {
        QFETCH(int, held);
        QFETCH(int, returned);
        QFETCH(bool, nak);
        QFETCH(bool, ownRequest);
        QFETCH(bool, needsKeyExchange);
        NtsSession session("127.0.0.1", 4460);
        session.adoptKeyExchange(keyExchange(held));
        QByteArray uniqueId =
            ReadNtsRequest(session.authenticatedRequest(clientHeader()), AesSivCmac256(C2sKey)).uniqueId;
        if (!ownRequest)
            uniqueId.fill('\x77');

        const QByteArray reply = nak ? BuildNtsNak(uniqueId)
                                     : BuildNtsReply(uniqueId, cookies(returned, 'n'), AesSivCmac256(S2cKey));
        const NtsReplyCheck check = session.verifyReply(reply);
        QCOMPARE(check.result == NtsReplyCheck::Result::Nak, nak && ownRequest);
        QCOMPARE(session.needsKeyExchange(), needsKeyExchange);
        QCOMPARE(session.authenticatedRequest(clientHeader()).isEmpty(), needsKeyExchange);

        // A new key exchange puts the session back to work.
        session.adoptKeyExchange(keyExchange(8));
        QVERIFY(!session.needsKeyExchange());
    }
};

QTEST_GUILESS_MAIN(TestNtsSession)
#include "test_ntssession.moc"
