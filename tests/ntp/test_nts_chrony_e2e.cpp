#include "ntp/ntpreply.h"
#include "ntp/nts/ntssession.h"
#include "platform/systemclock.h"
#include "tests/ntp/ntschronyd.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

constexpr auto Timeout = 10s;

} // namespace

// The key exchange and one authenticated exchange against a real chronyd on loopback, with a
// certificate trusted only through this test's own trust file.
class TestNtsChronyE2e : public QObject
{
    Q_OBJECT
private slots:
    void shouldExchangeKeysOnlyWithATrustedCertificate_data()
    {
        QTest::addColumn<bool>("expired");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("reason");
        QTest::newRow("trusted") << false << true << "";
        QTest::newRow("not trusted") << false << false << "NTS: certificate not trusted";
        QTest::newRow("expired") << true << true << "NTS: certificate expired";
    }

    void shouldExchangeKeysOnlyWithATrustedCertificate()
    {
        QFETCH(bool, expired);
        QFETCH(bool, trusted);
        QFETCH(QString, reason);
        if (!NtsChronyd::available())
            QSKIP("chronyd or certtool is not installed");
        NtsChronyd chronyd;
        QVERIFY2(chronyd.start(expired), qPrintable(chronyd.log()));

        NtsSession session({"127.0.0.1", chronyd.keyExchangePort()});
        if (trusted)
            session.setExtraTrustFile(chronyd.certificatePath());
        QSignalSpy finished(&session, &NtsSession::keyExchangeFinished);
        session.startKeyExchange(Timeout);
        QVERIFY(session.keyExchangeRunning());
        QVERIFY(finished.wait(int(std::chrono::milliseconds(Timeout).count()) + 1000));
        QCOMPARE(finished.first().at(1).toString(), reason);
        QCOMPARE(finished.first().at(0).toBool(), reason.isEmpty());
        QCOMPARE(session.needsKeyExchange(), !reason.isEmpty());
        if (!reason.isEmpty())
            return;

        // Where and with what the NTP exchange goes, as the server told us.
        QCOMPARE(session.ntpAddress(), QString("127.0.0.1"));
        QCOMPARE(session.ntpPort(), chronyd.ntpPort());
        QCOMPARE(session.cookieCount(), NtsCookiesToKeep);
        QVERIFY(session.certificate().subject.contains("CN=localhost"));
        QCOMPARE(session.certificate().issuer, session.certificate().subject);
        QVERIFY(session.certificate().expiry > QDateTime::currentDateTimeUtc());

        const NtpTimestampBytes nonce = RandomRequestNonce();
        const NtpPacketBytes header = BuildNtpRequest(nonce);
        const QByteArray request = session.authenticatedRequest(header);
        QVERIFY(!request.isEmpty());
        QUdpSocket socket;
        QVERIFY2(socket.bind(QHostAddress::LocalHost, 0), qPrintable(socket.errorString()));
        QCOMPARE(socket.writeDatagram(request, QHostAddress::LocalHost, session.ntpPort()), request.size());
        QVERIFY(socket.waitForReadyRead(5000));
        const QByteArray reply = socket.receiveDatagram().data();

        const NtsReplyCheck check = session.verifyReply(reply);
        QVERIFY2(check.accepted(), qPrintable(check.reason()));
        QCOMPARE(check.cookies.size(), 1);
        QCOMPARE(session.cookieCount(), NtsCookiesToKeep);
        QVERIFY(ParseNtpReply(reply, nonce).accepted());
    }
};

QTEST_GUILESS_MAIN(TestNtsChronyE2e)
#include "test_nts_chrony_e2e.moc"
