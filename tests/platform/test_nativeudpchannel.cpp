#include "platform/nativeudpchannel.h"
#include "tests/support/ntpresponder.h"
#include "tests/support/testsystem.h"

#include <QHostInfo>
#include <QSignalSpy>
#include <QTest>
#include <chrono>

using namespace ostrelle;

namespace {

constexpr int WaitMs = 5000;

// A port that nothing on address listens on now: bound by the system, then given back.
quint16 unusedPort(const QHostAddress& address)
{
    QUdpSocket probe;
    return probe.bind(address, 0, QAbstractSocket::DontShareAddress) ? probe.localPort() : 0;
}

// The channel does not look inside what it sends; the responder answers any 48 octets.
const QByteArray Request(48, '\x23');

// The channel under test and what it emits.
struct Client
{
    explicit Client(quint16 remotePort, quint16 localPort = 0) : channel(remotePort, localPort) {}

    bool connectTo(const QString& host)
    {
        channel.setRemoteHost(host);
        channel.connectToRemote();
        return ready.wait(WaitMs);
    }

    NativeUdpChannel channel;
    QSignalSpy ready{&channel, &UdpChannel::ready};
    QSignalSpy arrived{&channel, &UdpChannel::datagramArrived};
    QSignalSpy failed{&channel, &UdpChannel::errorOccurred};
};

} // namespace

class TestNativeUdpChannel : public QObject
{
    Q_OBJECT

private slots:
    void shouldExchangeOneDatagramWithServer_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("IPv4 address") << QStringLiteral("127.0.0.1");
        QTest::newRow("IPv6 address") << QStringLiteral("::1");
        QTest::newRow("host name") << QStringLiteral("localhost");
    }

    void shouldExchangeOneDatagramWithServer()
    {
        QFETCH(QString, server);
        NtpResponder responder{QHostInfo::fromName(server).addresses().value(0)};
        if (!responder.isListening() && server != "127.0.0.1")
            QSKIP("this machine has no IPv6 loopback, or localhost does not resolve");
        QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
        QSignalSpy replied(&responder, &NtpResponder::replied);

        Client client(responder.port());
        QVERIFY(client.connectTo(server));
        QVERIFY(client.channel.send(Request));
        QTRY_COMPARE_WITH_TIMEOUT(client.arrived.count(), 1, WaitMs);
        QCOMPARE(responder.lastRequest(), Request);
        QCOMPARE(responder.lastPeerPort(), client.channel.localPort());
        QCOMPARE(client.arrived.at(0).at(0), replied.at(0).at(0));
        QCOMPARE(client.failed.count(), 0);
    }

    // The reply is stamped when the kernel takes it in, not when a busy event loop gets round to it.
    void shouldStampReplyWithKernelReceiveTime()
    {
        NtpResponder responder;
        QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
        Client client(responder.port());
        QVERIFY(client.connectTo(responder.address().toString()));
        if (!client.channel.stampsArrivals())
            QSKIP("this system does not stamp datagrams with their arrival (Wine; Windows before 10 2004)");

        const auto sentAt = std::chrono::system_clock::now();
        QVERIFY(client.channel.send(Request));
        // Long enough for the responder's reply to be queued: the responder needs the event loop.
        QTRY_COMPARE_WITH_TIMEOUT(responder.requestCount(), 1, WaitMs);
        const auto busyUntil = std::chrono::system_clock::now() + std::chrono::milliseconds(50);
        while (std::chrono::system_clock::now() < busyUntil) {
        }
        QTRY_COMPARE_WITH_TIMEOUT(client.arrived.count(), 1, WaitMs);
        const auto readAt = std::chrono::system_clock::now();

        const auto kernelTime = client.arrived.at(0).at(1).value<ReceiveTime>();
        QVERIFY(kernelTime.has_value());
        QVERIFY(*kernelTime >= sentAt);
        QVERIFY2(readAt - *kernelTime >= std::chrono::milliseconds(45), "the stamp is the time of reading");
    }

    void shouldDropDatagramsFromOtherSenders_data()
    {
        QTest::addColumn<QString>("intruderAddress");
        QTest::newRow("other loopback address") << QStringLiteral("127.0.0.2");
        QTest::newRow("server's address, other port") << QStringLiteral("127.0.0.1");
    }

    void shouldDropDatagramsFromOtherSenders()
    {
        QFETCH(QString, intruderAddress);
        NtpResponder responder;
        NtpResponder intruder{QHostAddress(intruderAddress)};
        QVERIFY2(responder.isListening() && intruder.isListening(), qPrintable(intruder.errorString()));
        QSignalSpy replied(&responder, &NtpResponder::replied);
        Client client(responder.port());
        QVERIFY(client.connectTo(responder.address().toString()));

        // Sent first: on loopback it would be queued ahead of the real reply if it got through.
        QVERIFY(intruder.sendTo("forged", QHostAddress(QHostAddress::LocalHost), client.channel.localPort()));
        QVERIFY(client.channel.send(Request));
        QTRY_COMPARE_WITH_TIMEOUT(client.arrived.count(), 1, WaitMs);
        QCOMPARE(client.arrived.at(0).at(0), replied.at(0).at(0));
    }

    // After an ICMP "port unreachable", readyRead comes with no datagram (Linux), or the next read
    // fails with a reset (Windows); a socket that is not read on then stays deaf to every later
    // reply.
    void shouldStayListeningAfterPortUnreachable()
    {
        if (RunningUnderWine())
            QSKIP("Wine stops watching a UDP socket for good once Linux has queued an ICMP refusal on it; "
                  "Windows reports the refusal on the next read and goes on");
        const quint16 port = unusedPort(QHostAddress(QHostAddress::LocalHost));
        Client client(port);
        QVERIFY(client.connectTo(QStringLiteral("127.0.0.1")));
        const quint16 localPort = client.channel.localPort();
        QVERIFY(client.channel.send(Request));
        QVERIFY(WaitForPortUnreachable(client.channel, WaitMs));

        NtpResponder responder(QHostAddress(QHostAddress::LocalHost), port);
        QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
        QVERIFY(client.channel.send(Request));
        QTRY_COMPARE_WITH_TIMEOUT(client.arrived.count(), 1, WaitMs);
        QCOMPARE(client.channel.localPort(), localPort);
        QCOMPARE(client.failed.count(), 0);
    }

    void shouldFallBackWhenPreferredPortIsHeld_data()
    {
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("holderMode");
        const int share = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
        QTest::newRow("free: taken") << false << int(QAbstractSocket::DontShareAddress);
        QTest::newRow("held: system's choice") << true << int(QAbstractSocket::DontShareAddress);
        QTest::newRow("held by a socket willing to share: system's choice") << true << share;
    }

    void shouldFallBackWhenPreferredPortIsHeld()
    {
        QFETCH(bool, held);
        QFETCH(int, holderMode);
        NtpResponder responder;
        QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
        const quint16 preferred = unusedPort(QHostAddress(QHostAddress::AnyIPv4));
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress(QHostAddress::AnyIPv4), held ? preferred : 0,
                            QAbstractSocket::BindMode(holderMode)));

        Client client(responder.port(), preferred);
        QVERIFY(client.connectTo(responder.address().toString()));
        QCOMPARE(client.channel.localPort() == preferred, !held);
        QVERIFY(client.channel.send(Request));
        QTRY_COMPARE_WITH_TIMEOUT(client.arrived.count(), 1, WaitMs);
        QCOMPARE(responder.lastPeerPort(), client.channel.localPort());
        QCOMPARE(client.failed.count(), 0);
        QVERIFY(!holder.hasPendingDatagrams());
    }

    void shouldForgetRequestClosedBeforeItsAddressIsKnown_data()
    {
        QTest::addColumn<QString>("abandoned");
        QTest::newRow("host name being looked up") << QStringLiteral("localhost");
        QTest::newRow("address literal") << QStringLiteral("127.0.0.1");
    }

    void shouldForgetRequestClosedBeforeItsAddressIsKnown()
    {
        QFETCH(QString, abandoned);
        NtpResponder responder;
        QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
        Client client(responder.port());
        // To a port of its own: a socket opened for it would drop the responder's reply. (Not to
        // another loopback address: Wine binds a datagram socket asked for 127.0.0.2 to every
        // address, and its replies then come from 127.0.0.1.)
        client.channel.setRemoteHost(abandoned, unusedPort(QHostAddress(QHostAddress::LocalHost)));
        client.channel.connectToRemote();
        client.channel.close();
        QVERIFY(client.connectTo(responder.address().toString()));

        // Once the abandoned lookup has been answered (a lookup of the same name started later is
        // answered after it), only the second request may have opened a socket.
        bool done = false;
        QHostInfo::lookupHost(abandoned, this, [&done](const QHostInfo&) { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, WaitMs);
        QCoreApplication::processEvents();
        QCOMPARE(client.ready.count(), 1);
        QVERIFY(client.channel.send(Request));
        QTRY_COMPARE_WITH_TIMEOUT(client.arrived.count(), 1, WaitMs);
    }
};

QTEST_GUILESS_MAIN(TestNativeUdpChannel)
#include "test_nativeudpchannel.moc"
