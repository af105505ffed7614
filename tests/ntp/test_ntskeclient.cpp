#include "ntp/nts/ntskeclient.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

enum class Peer { Nobody, Silent, ClosesAtOnce, NotTls };

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
