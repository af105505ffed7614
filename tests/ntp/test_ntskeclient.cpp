#include "ntp/nts/ntskeclient.h"
#include "ntp/nts/ntskerecords.h"
#include "platform/fakes/fakehostresolver.h"
#include "tests/ntp/ntsketestserver.h"
#include "tests/ntp/ntsserverside.h"
#include "tests/support/localpeers.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

enum class Peer { Nobody, Silent, ClosesAtOnce, NotTls };

const QByteArray Accepted =
    NtsKeRecord(true, 1, QByteArray("\0\0", 2)) + NtsKeRecord(true, 4, QByteArray("\0\x0f", 2)) +
    NtsKeRecord(false, 5, QByteArray(100, 'a')) + NtsKeRecord(false, 5, QByteArray(100, 'b'));
const QByteArray End = NtsKeRecord(true, 0, {});

} // namespace

// Every way a key exchange can go wrong before any record arrives ends in one finished() with the
// reason, within the time-out, and without holding up the event loop.
class TestNtsKeClient : public QObject
{
    Q_OBJECT
private slots:
    void shouldFinishWithAReason_data()
    {
        QTest::addColumn<int>("peer");
        QTest::addColumn<QString>("reason");
        QTest::newRow("nothing listening")
            << int(Peer::Nobody) << "NTS: key exchange failed: Connection refused";
        QTest::newRow("silent") << int(Peer::Silent) << "NTS: key exchange timed out";
        QTest::newRow("closes at once")
            << int(Peer::ClosesAtOnce) << "NTS: key exchange refused: connection closed";
        QTest::newRow("not TLS") << int(Peer::NotTls) << "NTS: key exchange failed: ";
    }

    void shouldFinishWithAReason()
    {
        QFETCH(int, peer);
        QFETCH(QString, reason);
        QTcpServer server;
        QVERIFY2(server.listen(QHostAddress::LocalHost, 0), qPrintable(server.errorString()));
        const quint16 port = server.serverPort();
        QList<QTcpSocket*> accepted;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* socket = server.nextPendingConnection();
            accepted.append(socket);
            if (Peer(peer) == Peer::ClosesAtOnce)
                socket->close();
            else if (Peer(peer) == Peer::NotTls)
                socket->write("HTTP/1.0 400 Bad Request\r\n\r\n");
        });
        if (Peer(peer) == Peer::Nobody)
            server.close();

        NtsKeClient client;
        QSignalSpy finished(&client, &NtsKeClient::finished);
        client.start("127.0.0.1", port, 500ms);
        QVERIFY(client.isRunning());
        QVERIFY(finished.wait(5000));
        QTest::qWait(50);
        QCOMPARE(finished.size(), 1);
        QVERIFY(!client.isRunning());
        const auto result = finished.first().first().value<NtsKeResult>();
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.startsWith(reason), qPrintable(result.reason));
        QVERIFY(result.c2sKey.isEmpty() && result.cookies.isEmpty());
    }

    // Over real TLS with a server of the test's own: the keys match the server's, the records it
    // sends decide, and a server without ntske/1 or TLS 1.3 is refused.
    void shouldExchangeKeysWithATlsServer_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QByteArray>("alpn");
        QTest::addColumn<QByteArray>("priority");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        const QByteArray tls13 = "NORMAL:-VERS-ALL:+VERS-TLS1.3";
        QTest::newRow("defaults") << Accepted + End << QByteArray("ntske/1") << tls13 << ""
                                  << "127.0.0.1" << 123;
        QTest::newRow("server and port named") << Accepted + NtsKeRecord(true, 6, "127.0.0.2") +
                                                      NtsKeRecord(true, 7, QByteArray("\x10\x1b", 2)) + End
                                               << QByteArray("ntske/1") << tls13 << ""
                                               << "127.0.0.2" << 4123;
        QTest::newRow("error record")
            << NtsKeRecord(true, 2, QByteArray("\0\x01", 2)) + End << QByteArray("ntske/1") << tls13
            << "NTS: key exchange refused: bad request"
            << "" << 0;
        QTest::newRow("cut short") << Accepted << QByteArray("ntske/1") << tls13
                                   << "NTS: key exchange refused: response cut short"
                                   << "" << 0;
        QTest::newRow("other protocol")
            << Accepted + End << QByteArray("http/1.1") << tls13 << "NTS: key exchange refused: no ntske/1"
            << "" << 0;
        QTest::newRow("TLS 1.2 only")
            << Accepted + End << QByteArray("ntske/1") << QByteArray("NORMAL:-VERS-ALL:+VERS-TLS1.2")
            << "NTS: key exchange failed: "
            << "" << 0;
    }

    void shouldExchangeKeysWithATlsServer()
    {
        QFETCH(QByteArray, response);
        QFETCH(QByteArray, alpn);
        QFETCH(QByteArray, priority);
        QFETCH(QString, reason);
        QFETCH(QString, server);
        QFETCH(int, port);
        QTemporaryDir dir;
        QString log;
        QVERIFY2(MakeSelfSignedCertificate(dir.path(), false, log), qPrintable(log));
        NtsKeTestServer tlsServer;
        QVERIFY(tlsServer.start(dir.path(), {response, alpn, priority}));

        NtsKeClient client;
        client.setExtraTrustFile(dir.filePath("cert.pem"));
        QSignalSpy finished(&client, &NtsKeClient::finished);
        client.start("127.0.0.1", tlsServer.port(), 5s);
        QVERIFY(finished.wait(6000));
        const auto result = finished.first().first().value<NtsKeResult>();
        QVERIFY2(reason.isEmpty() ? result.ok : result.reason.startsWith(reason), qPrintable(result.reason));
        if (!result.ok)
            return;
        QCOMPARE(tlsServer.request(), EncodeNtsKeRequest());
        QCOMPARE(result.c2sKey, tlsServer.c2sKey());
        QCOMPARE(result.s2cKey, tlsServer.s2cKey());
        QVERIFY(result.c2sKey != result.s2cKey);
        QCOMPARE(result.cookies, (QList<QByteArray>{QByteArray(100, 'a'), QByteArray(100, 'b')}));
        QCOMPARE(result.ntpServer, server);
        QCOMPARE(int(result.ntpPort), port);
        QVERIFY(result.certificate.subject.contains("CN=localhost"));
    }

    // A server given by name is reached at the address its name resolves to, and its certificate
    // must name that very name; GnuTLS reads the name at the end of the handshake, long after
    // start() has returned, so a name that did not outlive start() is caught here.
    void shouldVerifyTheNameItWasGiven_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("reason");
        QTest::newRow("name in the certificate") << "time.example"
                                                 << "";
        QTest::newRow("same name, other case") << "TIME.example"
                                               << "";
        QTest::newRow("name not in the certificate") << "other.example"
                                                     << "NTS: certificate not for this host";
        QTest::newRow("name nobody knows") << "nowhere.example"
                                           << "NTS: key exchange failed: Host nowhere";
    }

    void shouldVerifyTheNameItWasGiven()
    {
        QFETCH(QString, host);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString log;
        QVERIFY2(MakeSelfSignedCertificate(dir.path(), false, log), qPrintable(log));
        NtsKeTestServer tlsServer;
        const bool known = !host.startsWith("nowhere");
        if (known)
            QVERIFY(
                tlsServer.start(dir.path(), {Accepted + End, "ntske/1", "NORMAL:-VERS-ALL:+VERS-TLS1.3"}));
        FakeHostResolver resolver;
        resolver.add("time.example", {QHostAddress(QHostAddress::LocalHost)});
        resolver.add("other.example", {QHostAddress(QHostAddress::LocalHost)});

        NtsKeClient client(resolver);
        client.setExtraTrustFile(dir.filePath("cert.pem"));
        QSignalSpy finished(&client, &NtsKeClient::finished);
        client.start(host, known ? tlsServer.port() : 9, 5s);
        // Memory that start() freed is handed out again and overwritten before the handshake ends.
        QList<QByteArray> scribbles;
        for (int i = 0; i < 64; ++i)
            scribbles.append(QByteArray(host.size(), '#'));
        QVERIFY(finished.wait(6000));
        const auto result = finished.first().first().value<NtsKeResult>();
        QCOMPARE(resolver.lookups(), 1);
        if (reason.isEmpty()) {
            QVERIFY2(result.ok, qPrintable(result.reason));
            QCOMPARE(result.ntpServer, host); // NTP goes to the same name when the server names none
        } else {
            QVERIFY2(!result.ok && result.reason.startsWith(reason), qPrintable(result.reason));
        }
    }

    // A missing trust file is the operator's to fix; it is named, not taken for an untrusted server.
    void shouldRefuseAMissingTrustFile()
    {
        NtsKeClient client;
        client.setExtraTrustFile("/nonexistent/trust.pem");
        QSignalSpy finished(&client, &NtsKeClient::finished);
        client.start("127.0.0.1", 9, 500ms);
        QCOMPARE(finished.size(), 0);
        QVERIFY(finished.wait(5000));
        QVERIFY(
            finished.first().first().value<NtsKeResult>().reason.startsWith("NTS: key exchange failed: "));
    }
};

QTEST_GUILESS_MAIN(TestNtsKeClient)
#include "test_ntskeclient.moc"
