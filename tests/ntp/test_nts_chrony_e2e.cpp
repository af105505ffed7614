#include "ntp/ntpreply.h"
#include "ntp/nts/ntssession.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "report/reportpoller.h"
#include "tests/support/localpeers.h"
#include "tests/support/readonlyclock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
// certificate trusted only through this test's own trust file. The poll cycle's part of NTS is
// pinned over the fake channel (test_pollcycle_nts); the report goes through the same exchange.
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
        if (LocalChronyd::executable().isEmpty())
            QSKIP("chronyd is not installed");
        LocalChronyd chronyd;
        chronyd.serveNts(expired);
        const quint16 ntpPort = FreeLoopbackPort();
        QString why;
        QVERIFY2(chronyd.start("127.0.0.1", ntpPort, 7, &why), qPrintable(why));

        NtsSession session("127.0.0.1", chronyd.keyExchangePort());
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
        QCOMPARE(session.ntpPort(), ntpPort);
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

    // The report polls an nts:// server given by name and port through the same exchange as the
    // window: authenticated with the trusted certificate, refused with the reason without it.
    void shouldReportAnNtsServerByName_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("reason");
        QTest::newRow("trusted") << true << "answered"
                                 << "";
        QTest::newRow("not trusted") << false << "refused"
                                     << "NTS: certificate not trusted";
    }

    void shouldReportAnNtsServerByName()
    {
        QFETCH(bool, trusted);
        QFETCH(QString, outcome);
        QFETCH(QString, reason);
        if (LocalChronyd::executable().isEmpty())
            QSKIP("chronyd is not installed");
        LocalChronyd chronyd;
        chronyd.serveNts();
        QString why;
        QVERIFY2(chronyd.start("127.0.0.1", FreeLoopbackPort(), 7, &why), qPrintable(why));
        // localhost is a name the machine's hosts file gives, and one the certificate holds.
        const QString server = QString("nts://localhost:%1").arg(chronyd.keyExchangePort());
        if (trusted)
            qputenv("OSTRELLE_TEST_NTS_TRUST_FILE", QFile::encodeName(chronyd.certificatePath()));
        else
            qunsetenv("OSTRELLE_TEST_NTS_TRUST_FILE");

        ReadOnlyClock clock;
        MemorySettingsBackend store;
        ReportPoller poller(clock, store);
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        const int status = RunCommandLine(
            ParseCommandLine({"ostrelle", "--report", "--format", "json", "--timeout", "8", server}), poller,
            outStream, errStream);
        qunsetenv("OSTRELLE_TEST_NTS_TRUST_FILE");
        const QJsonObject row =
            QJsonDocument::fromJson(out.toUtf8()).object().value("servers").toArray().first().toObject();
        QCOMPARE(row.value("server").toString(), server);
        QCOMPARE(row.value("outcome").toString(), outcome);
        QCOMPARE(row.value("healthy").toBool(), reason.isEmpty());
        QCOMPARE(status, reason.isEmpty() ? 0 : 2);
        if (reason.isEmpty())
            QVERIFY2(std::abs(row.value("offset").toDouble()) < 0.5, qPrintable(out));
        else
            QVERIFY2(out.contains(reason), qPrintable(out));
        // What NTS did, for the monitoring system: chronyd hands out eight cookies and each request
        // spends one and brings one back.
        const QJsonObject nts = row.value("nts").toObject();
        QCOMPARE(nts.value("authenticated").toBool(), reason.isEmpty());
        QCOMPARE(nts.value("failure").toString(), reason);
        QCOMPARE(nts.value("cookies").toInt() > 0, reason.isEmpty());
        QCOMPARE(clock.setAttempts, 0);
    }
};

QTEST_GUILESS_MAIN(TestNtsChronyE2e)
#include "test_nts_chrony_e2e.moc"
