#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qsettingsbackend.h"
#include "report/metricsexporter.h"
#include "report/reportpoller.h"
#include "servers/settingsstore.h"
#include "tests/support/ntpresponder.h"
#include "tests/support/readonlyclock.h"

#include <QEventLoop>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

// A source whose every pass takes passTime in its own event loop, as a pass over the network does,
// and reports one server whose offset is the pass's number.
class SlowSource final : public ReportSource
{
public:
    Report collect(const ReportOptions&) override
    {
        ++passes;
        inPass = true;
        QEventLoop loop;
        QTimer::singleShot(passTime, &loop, &QEventLoop::quit);
        loop.exec();
        inPass = false;
        ReportRow row;
        row.server = QStringLiteral("a.example");
        row.outcome = PollOutcome::Answered;
        row.healthy = true;
        row.offset = ReportSeconds(passes);
        return {{row}, {}, {}};
    }

    int passes = 0;
    std::atomic<bool> inPass = false;
    std::chrono::milliseconds passTime{0};
};

// The server may keep the connection open: a response is whole once its body is.
bool wholeResponse(const QByteArray& received)
{
    const qsizetype headerEnd = received.indexOf("\r\n\r\n");
    const qsizetype length = received.indexOf("ontent-Length: ");
    if (headerEnd < 0 || length < 0)
        return false;
    const qsizetype lineEnd = received.indexOf("\r\n", length);
    return received.size() >= headerEnd + 4 + received.mid(length + 15, lineEnd - length - 15).toInt();
}

// A client on its own socket, answered from the event loop the exporter serves in.
class Client
{
public:
    Client(quint16 port, const QByteArray& request)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        m_socket.write(request);
    }
    // Everything the server sent until it closed, or until it sent a whole response.
    bool finished() const
    {
        return wholeResponse(m_received) || m_socket.state() == QAbstractSocket::UnconnectedState;
    }
    void read() { m_received += m_socket.readAll(); }
    QByteArray statusLine() const { return m_received.left(m_received.indexOf("\r\n")); }
    QByteArray body() const { return m_received.mid(m_received.indexOf("\r\n\r\n") + 4); }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

bool waitForAll(std::vector<std::unique_ptr<Client>>& clients, int timeoutMs = 10'000)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        bool all = true;
        for (auto& client : clients) {
            client->read();
            all = all && client->finished();
        }
        if (all)
            return true;
        QTest::qWait(5);
    }
    return false;
}

// Serves on a loopback port of the system's choosing and returns once the first pass is done.
bool serveFirstPass(MetricsExporter& exporter, QSignalSpy& passes, int timeoutMs = 5'000)
{
    QString whyNot;
    if (!exporter.listen(QHostAddress::LocalHost, 0, &whyNot)) {
        qWarning("%s", qPrintable(whyNot));
        return false;
    }
    exporter.start();
    return passes.wait(timeoutMs);
}

QByteArray scrapeRequest(const QByteArray& path = "/metrics")
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

} // namespace

class MetricsExporterTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldServeTheLastPassWhileTheNextRuns();
    void shouldKeepServingPastBadAndSlowClients();
    void shouldPickUpServersAddedToTheStoredList();
};

// Scrapes during a pass that takes two seconds get the pass before, all of them and at once. The
// pass runs its event loop on this thread, so the scrapes come from another, as Prometheus' would.
void MetricsExporterTest::shouldServeTheLastPassWhileTheNextRuns()
{
    SlowSource source;
    MetricsExporter exporter(source, {}, 1s);
    QSignalSpy passes(&exporter, &MetricsExporter::passFinished);
    QVERIFY(serveFirstPass(exporter, passes));
    source.passTime = 2s;

    const quint16 port = exporter.serverPort();
    QList<QByteArray> answers;
    bool answeredDuringThePass = false;
    std::thread scraper([&] {
        while (!source.inPass)
            std::this_thread::sleep_for(5ms);
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < 20; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, port);
            sockets.back()->write(scrapeRequest());
        }
        for (auto& socket : sockets) {
            QByteArray answer;
            while (!wholeResponse(answer) && socket->waitForReadyRead(3'000))
                answer += socket->readAll();
            answers.append(answer);
        }
        answeredDuringThePass = source.inPass;
    });
    QVERIFY(passes.wait(10'000));
    scraper.join();
    QVERIFY2(answeredDuringThePass, "a scrape waited for the pass");
    QCOMPARE(answers.size(), 20);
    for (const QByteArray& answer : std::as_const(answers)) {
        QVERIFY2(answer.startsWith("HTTP/1.1 200 OK"), answer.constData());
        QVERIFY(answer.contains("ostrelle_server_offset_seconds{server=\"a.example\"} 1\n"));
        QVERIFY(answer.contains("ostrelle_exporter_passes_total 1\n"));
    }
    QVERIFY(exporter.metrics().contains("ostrelle_server_offset_seconds{server=\"a.example\"} 2\n"));
}

// Garbage, an unknown path and a client that never finishes its request each get their answer
// (or none) without keeping the others from theirs.
void MetricsExporterTest::shouldKeepServingPastBadAndSlowClients()
{
    SlowSource source;
    MetricsExporter exporter(source, {}, 3600s);
    QSignalSpy passes(&exporter, &MetricsExporter::passFinished);
    QVERIFY(serveFirstPass(exporter, passes));

    Client slow(exporter.serverPort(), "GET /metr");
    std::vector<std::unique_ptr<Client>> bad;
    bad.push_back(std::make_unique<Client>(exporter.serverPort(), "\x01\x02 nonsense \xff\r\n\r\n"));
    bad.push_back(std::make_unique<Client>(exporter.serverPort(), scrapeRequest("/nothing")));
    bad.push_back(std::make_unique<Client>(exporter.serverPort(),
                                           "POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
    QVERIFY(waitForAll(bad));
    // Qt HTTP Server 6.4 closes the connection of a request it cannot parse, without an answer.
    QVERIFY2(bad[0]->statusLine().startsWith("HTTP/1.1 400") || bad[0]->statusLine().isEmpty(),
             bad[0]->statusLine().constData());
    QCOMPARE(bad[1]->statusLine(), QByteArray("HTTP/1.1 404 Not Found"));
    QVERIFY2(bad[2]->statusLine().startsWith("HTTP/1.1 4"), bad[2]->statusLine().constData());

    std::vector<std::unique_ptr<Client>> good;
    for (int i = 0; i < 5; ++i)
        good.push_back(std::make_unique<Client>(exporter.serverPort(), scrapeRequest()));
    QVERIFY(waitForAll(good));
    for (const auto& client : good)
        QCOMPARE(client->statusLine(), QByteArray("HTTP/1.1 200 OK"));
    QVERIFY(slow.socket().state() == QAbstractSocket::ConnectedState);
}

// The stored list is read again before every pass: a server the window added shows up in the
// next pass, and the exporter's metrics pass Prometheus' linter (the report's own, NTS ones
// included, are the format test's).
void MetricsExporterTest::shouldPickUpServersAddedToTheStoredList()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    NtpResponder first;
    NtpResponder second;
    QVERIFY(first.isListening() && second.isListening());
    const QString firstName = QStringLiteral("127.0.0.1:%1").arg(first.port());
    const QString secondName = QStringLiteral("127.0.0.1:%1").arg(second.port());

    ScriptedMessageDialog messages;
    QSettingsBackend window(folder.path());
    QVERIFY(SettingsStore(window, messages).saveSettings({}, {firstName}));

    ReadOnlyClock clock;
    QSettingsBackend store(folder.path());
    ReportPoller poller(clock, store);
    ReportOptions options;
    options.samples = 1;
    options.timeout = 2s;
    MetricsExporter exporter(poller, options, 1s);
    QSignalSpy passes(&exporter, &MetricsExporter::passFinished);
    QVERIFY(serveFirstPass(exporter, passes, 10'000));
    QVERIFY(exporter.metrics().contains(
        QStringLiteral("ostrelle_server_up{server=\"%1\"} 1").arg(firstName).toUtf8()));
    QVERIFY(!exporter.metrics().contains(secondName.toUtf8()));

    QVERIFY(SettingsStore(window, messages).saveSettings({}, {firstName, secondName}));
    QTRY_VERIFY_WITH_TIMEOUT(
        exporter.metrics().contains(
            QStringLiteral("ostrelle_server_up{server=\"%1\"} 1").arg(secondName).toUtf8()),
        10'000);
    QCOMPARE(clock.setAttempts, 0);

    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        QSKIP("promtool (Debian's prometheus package) is not installed");
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    check.write(exporter.metrics());
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(30'000));
    const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
}

QTEST_GUILESS_MAIN(MetricsExporterTest)
#include "test_metricsexporter.moc"
