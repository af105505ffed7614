#include "platform/fakes/fakeclock.h"
#include "platform/qtudpchannel.h"
#include "tests/support/ntpresponder.h"
#include "timekeeping/ntppacket.h"

#include <QHostInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace ostrelle;

namespace {

constexpr int WaitMs = 5000;

QHostAddress loopback(const char* text)
{
    return QHostAddress(QString::fromLatin1(text));
}

// A port that nothing on address listens on now: bound by the system, then given back.
quint16 unusedPort(const QHostAddress& address)
{
    QUdpSocket probe;
    if (!probe.bind(address, 0, QAbstractSocket::DontShareAddress))
        return 0;
    return probe.localPort();
}

QByteArray clientRequest()
{
    FakeClock clock;
    double sendTime = 0.0;
    const NtpPacketBytes request = BuildNtpRequest(clock, sendTime);
    return QByteArray(reinterpret_cast<const char*>(request.data()), static_cast<qsizetype>(request.size()));
}

bool hasDatagram(const QSignalSpy& spy, const QByteArray& datagram)
{
    for (const QList<QVariant>& arguments : spy) {
        if (arguments.at(0).toByteArray() == datagram)
            return true;
    }
    return false;
}

// Resolves name the way the channel does and returns once the answer has been delivered; a lookup
// of the same name started earlier by the channel has been dealt with by then.
void awaitLookupOf(const QString& name)
{
    bool done = false;
    QObject context;
    QHostInfo::lookupHost(name, &context, [&done](const QHostInfo&) { done = true; });
    QTRY_VERIFY_WITH_TIMEOUT(done, WaitMs);
    QCoreApplication::processEvents();
}

} // namespace

class TestQtUdpChannel : public QObject
{
    Q_OBJECT

private slots:
    void shouldExchangeOneDatagramWithServer_data();
    void shouldExchangeOneDatagramWithServer();
    void shouldDropDatagramsFromOtherSenders_data();
    void shouldDropDatagramsFromOtherSenders();
    void shouldStayListeningAfterPortUnreachable_data();
    void shouldStayListeningAfterPortUnreachable();
    void shouldFallBackWhenPreferredPortIsHeld_data();
    void shouldFallBackWhenPreferredPortIsHeld();
    void shouldResolveHostNameToItsFirstAddress();
    void shouldStaySilentForNameThatDoesNotResolve_data();
    void shouldStaySilentForNameThatDoesNotResolve();
    void shouldForgetRequestClosedBeforeItsAddressIsKnown_data();
    void shouldForgetRequestClosedBeforeItsAddressIsKnown();
    void shouldRefuseToSendWithoutConnectedSocket();
    void shouldReportSocketThatCannotBeMade();
};

void TestQtUdpChannel::shouldExchangeOneDatagramWithServer_data()
{
    QTest::addColumn<QString>("server");
    QTest::newRow("IPv4 loopback") << QStringLiteral("127.0.0.1");
    QTest::newRow("second IPv4 loopback address") << QStringLiteral("127.0.0.2");
    QTest::newRow("IPv6 loopback") << QStringLiteral("::1");
}

void TestQtUdpChannel::shouldExchangeOneDatagramWithServer()
{
    QFETCH(QString, server);
    NtpResponder responder{QHostAddress(server)};
    if (!responder.isListening() && QHostAddress(server).protocol() == QAbstractSocket::IPv6Protocol)
        QSKIP("this machine has no IPv6 loopback");
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    QSignalSpy replied(&responder, &NtpResponder::replied);

    QtUdpChannel channel(responder.port(), 0);
    QSignalSpy ready(&channel, &UdpChannel::ready);
    QSignalSpy arrived(&channel, &UdpChannel::datagramArrived);
    QSignalSpy failed(&channel, &UdpChannel::errorOccurred);
    channel.setRemoteHost(server);
    channel.connectToRemote();
    QVERIFY(ready.wait(WaitMs));

    const QByteArray request = clientRequest();
    QVERIFY(channel.send(request));
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, WaitMs);

    QCOMPARE(responder.requestCount(), 1);
    QCOMPARE(responder.lastRequest(), request);
    QCOMPARE(responder.lastPeerPort(), channel.localPort());
    QCOMPARE(replied.count(), 1);
    QCOMPARE(arrived.at(0).at(0).toByteArray(), replied.at(0).at(0).toByteArray());
    QCOMPARE(ready.count(), 1);
    QCOMPARE(failed.count(), 0);
}

void TestQtUdpChannel::shouldDropDatagramsFromOtherSenders_data()
{
    QTest::addColumn<QString>("intruderAddress");
    QTest::newRow("other loopback address") << QStringLiteral("127.0.0.2");
    QTest::newRow("server's address, other port") << QStringLiteral("127.0.0.1");
}

void TestQtUdpChannel::shouldDropDatagramsFromOtherSenders()
{
    QFETCH(QString, intruderAddress);
    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    NtpResponder intruder{QHostAddress(intruderAddress)};
    QVERIFY2(intruder.isListening(), qPrintable(intruder.errorString()));
    QSignalSpy replied(&responder, &NtpResponder::replied);

    QtUdpChannel channel(responder.port(), 0);
    QSignalSpy ready(&channel, &UdpChannel::ready);
    QSignalSpy arrived(&channel, &UdpChannel::datagramArrived);
    channel.setRemoteHost(responder.address().toString());
    channel.connectToRemote();
    QVERIFY(ready.wait(WaitMs));

    // Sent first: on loopback it would be queued ahead of the real reply if it got through.
    const QByteArray forged = BuildNtpReply(clientRequest(), NtpReplyFields{}, NtpResponder::realNow());
    QVERIFY(intruder.sendTo(forged, loopback("127.0.0.1"), channel.localPort()));
    QVERIFY(channel.send(clientRequest()));
    QTRY_COMPARE_WITH_TIMEOUT(replied.count(), 1, WaitMs);
    const QByteArray reply = replied.at(0).at(0).toByteArray();
    QTRY_VERIFY_WITH_TIMEOUT(hasDatagram(arrived, reply), WaitMs);

    QCOMPARE(arrived.count(), 1);
}

void TestQtUdpChannel::shouldStayListeningAfterPortUnreachable_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::newRow("next request through a new socket") << true;
    QTest::newRow("next request through the same socket") << false;
}

void TestQtUdpChannel::shouldStayListeningAfterPortUnreachable()
{
    QFETCH(bool, reconnect);
    const QHostAddress server = loopback("127.0.0.1");
    const quint16 port = unusedPort(server);
    QVERIFY(port != 0);

    QtUdpChannel channel(port, 0);
    QSignalSpy ready(&channel, &UdpChannel::ready);
    QSignalSpy arrived(&channel, &UdpChannel::datagramArrived);
    QSignalSpy failed(&channel, &UdpChannel::errorOccurred);
    channel.setRemoteHost(server.toString());
    channel.connectToRemote();
    QVERIFY(ready.wait(WaitMs));
    const quint16 firstLocalPort = channel.localPort();

    // Nothing listens: the system answers with ICMP port unreachable, which the socket reports as
    // a refused connection on its next read.
    QVERIFY(channel.send(clientRequest()));
    QTRY_COMPARE_WITH_TIMEOUT(channel.lastIgnoredError(), QAbstractSocket::ConnectionRefusedError, WaitMs);

    NtpResponder responder(server, port);
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    QSignalSpy replied(&responder, &NtpResponder::replied);
    if (reconnect) {
        channel.close();
        channel.connectToRemote();
        QVERIFY(ready.wait(WaitMs));
    } else {
        QCOMPARE(channel.localPort(), firstLocalPort);
    }
    QVERIFY(channel.send(clientRequest()));
    QTRY_COMPARE_WITH_TIMEOUT(replied.count(), 1, WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, WaitMs);

    QCOMPARE(arrived.at(0).at(0).toByteArray(), replied.at(0).at(0).toByteArray());
    QCOMPARE(failed.count(), 0);
}

void TestQtUdpChannel::shouldFallBackWhenPreferredPortIsHeld_data()
{
    QTest::addColumn<bool>("held");
    QTest::addColumn<int>("holderMode");
    QTest::addColumn<bool>("expectPreferred");
    const int dontShare = QAbstractSocket::DontShareAddress;
    const int share = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    QTest::newRow("free: taken") << false << dontShare << true;
    QTest::newRow("held: system's choice") << true << dontShare << false;
    QTest::newRow("held by a socket willing to share: system's choice") << true << share << false;
}

void TestQtUdpChannel::shouldFallBackWhenPreferredPortIsHeld()
{
    QFETCH(bool, held);
    QFETCH(int, holderMode);
    QFETCH(bool, expectPreferred);
    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    QSignalSpy replied(&responder, &NtpResponder::replied);

    const quint16 preferred = unusedPort(QHostAddress(QHostAddress::AnyIPv4));
    QVERIFY(preferred != 0);
    QUdpSocket holder;
    if (held) {
        QVERIFY2(holder.bind(QHostAddress(QHostAddress::AnyIPv4), preferred,
                             QAbstractSocket::BindMode(holderMode)),
                 qPrintable(holder.errorString()));
    }

    QtUdpChannel channel(responder.port(), preferred);
    QSignalSpy ready(&channel, &UdpChannel::ready);
    QSignalSpy arrived(&channel, &UdpChannel::datagramArrived);
    QSignalSpy failed(&channel, &UdpChannel::errorOccurred);
    channel.setRemoteHost(responder.address().toString());
    channel.connectToRemote();
    QVERIFY(ready.wait(WaitMs));

    QVERIFY(channel.localPort() != 0);
    QCOMPARE(channel.localPort() == preferred, expectPreferred);
    QVERIFY(channel.send(clientRequest()));
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, WaitMs);
    QCOMPARE(responder.lastPeerPort(), channel.localPort());
    QCOMPARE(failed.count(), 0);
    if (held)
        QCOMPARE(holder.hasPendingDatagrams(), false);
}

void TestQtUdpChannel::shouldResolveHostNameToItsFirstAddress()
{
    const QString name = QStringLiteral("localhost");
    const QHostInfo info = QHostInfo::fromName(name);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        QSKIP("localhost does not resolve on this machine");
    NtpResponder responder{info.addresses().constFirst()};
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));

    QtUdpChannel channel(responder.port(), 0);
    QSignalSpy ready(&channel, &UdpChannel::ready);
    QSignalSpy arrived(&channel, &UdpChannel::datagramArrived);
    channel.setRemoteHost(name);
    channel.connectToRemote();
    QVERIFY(ready.wait(WaitMs));
    QVERIFY(!channel.isLookingUp());

    QVERIFY(channel.send(clientRequest()));
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, WaitMs);
    QCOMPARE(responder.requestCount(), 1);
}

void TestQtUdpChannel::shouldStaySilentForNameThatDoesNotResolve_data()
{
    // Names the resolver refuses before asking any name server, so that no query leaves the machine.
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString();
    QTest::newRow("empty label") << QStringLiteral("ntp..example");
    QTest::newRow("blank inside") << QStringLiteral("ntp example");
}

void TestQtUdpChannel::shouldStaySilentForNameThatDoesNotResolve()
{
    QFETCH(QString, name);
    QtUdpChannel channel(unusedPort(loopback("127.0.0.1")), 0);
    QSignalSpy ready(&channel, &UdpChannel::ready);
    QSignalSpy failed(&channel, &UdpChannel::errorOccurred);
    channel.setRemoteHost(name);
    channel.connectToRemote();

    // The answer comes later, from the event loop: the caller is not held up.
    QVERIFY(channel.isLookingUp());
    QTRY_VERIFY_WITH_TIMEOUT(!channel.isLookingUp(), WaitMs);
    QCoreApplication::processEvents();

    QCOMPARE(ready.count(), 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(channel.localPort(), quint16(0));
    QVERIFY(!channel.send(clientRequest()));
}

void TestQtUdpChannel::shouldForgetRequestClosedBeforeItsAddressIsKnown_data()
{
    QTest::addColumn<QString>("abandoned");
    QTest::newRow("host name being looked up") << QStringLiteral("localhost");
    QTest::newRow("address literal") << QStringLiteral("127.0.0.1");
}

void TestQtUdpChannel::shouldForgetRequestClosedBeforeItsAddressIsKnown()
{
    QFETCH(QString, abandoned);
    NtpResponder responder{loopback("127.0.0.2")};
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));

    QtUdpChannel channel(responder.port(), 0);
    QSignalSpy ready(&channel, &UdpChannel::ready);
    QSignalSpy arrived(&channel, &UdpChannel::datagramArrived);
    channel.setRemoteHost(abandoned);
    channel.connectToRemote();
    channel.close();
    channel.setRemoteHost(responder.address().toString());
    channel.connectToRemote();
    QVERIFY(ready.wait(WaitMs));
    awaitLookupOf(abandoned);

    // Only the second request may open a socket; the first must not replace it.
    QCOMPARE(ready.count(), 1);
    QVERIFY(channel.send(clientRequest()));
    QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, WaitMs);
    QCOMPARE(responder.requestCount(), 1);
}

void TestQtUdpChannel::shouldRefuseToSendWithoutConnectedSocket()
{
    NtpResponder responder;
    QVERIFY2(responder.isListening(), qPrintable(responder.errorString()));
    QtUdpChannel channel(responder.port(), 0);
    QSignalSpy ready(&channel, &UdpChannel::ready);

    QVERIFY(!channel.send(clientRequest()));
    channel.setRemoteHost(responder.address().toString());
    channel.connectToRemote();
    QVERIFY(ready.wait(WaitMs));
    channel.close();
    QVERIFY(!channel.send(clientRequest()));

    QCOMPARE(channel.localPort(), quint16(0));
    QCOMPARE(responder.requestCount(), 0);
}

void TestQtUdpChannel::shouldReportSocketThatCannotBeMade()
{
#ifdef Q_OS_UNIX
    // Use up every descriptor the process may have, so that no socket can be created at all.
    rlimit original{};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &original) == 0);
    rlimit lowered = original;
    lowered.rlim_cur = 256;
    if (original.rlim_cur < lowered.rlim_cur || setrlimit(RLIMIT_NOFILE, &lowered) != 0)
        QSKIP("cannot lower the descriptor limit");
    std::vector<int> spent;
    for (int fd = ::open("/dev/null", O_RDONLY); fd >= 0; fd = ::open("/dev/null", O_RDONLY))
        spent.push_back(fd);
    const auto giveBack = qScopeGuard([&] {
        for (int fd : spent)
            ::close(fd);
        setrlimit(RLIMIT_NOFILE, &original);
    });

    QtUdpChannel channel(123, 0);
    QSignalSpy ready(&channel, &UdpChannel::ready);
    QSignalSpy failed(&channel, &UdpChannel::errorOccurred);
    channel.setRemoteHost(QStringLiteral("127.0.0.1"));
    channel.connectToRemote();
    QVERIFY(failed.wait(WaitMs));

    QCOMPARE(failed.count(), 1);
    QVERIFY(!failed.at(0).at(0).toString().isEmpty());
    QCOMPARE(ready.count(), 0);
#else
    QSKIP("needs a descriptor limit");
#endif
}

QTEST_GUILESS_MAIN(TestQtUdpChannel)
#include "test_qtudpchannel.moc"
