#include "ntp/ntpreply.h"
#include "ntp/pollcycle.h"
#include "platform/clock.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qtudpchannel.h"
#include "platform/systemclock.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"
#include "tests/support/ntpresponder.h"
#include "timekeeping/ntppacket.h"
#include "timekeeping/ntptime.h"

#include <QFile>
#include <QLocale>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

using namespace ostrelle;

namespace {

constexpr int WaitMs = 5000;
constexpr int StopWaitMs = 3000;
constexpr int ReadinessTries = 25;
constexpr int ReadinessTryMs = 200;

const QString ServerAddress = QStringLiteral("127.0.0.1");
constexpr quint16 StandardNtpPort = 123;
// ntpdate only asks port 123, on any address. Some loopback address with that port free is taken,
// so that an NTP server already on 127.0.0.1:123 (or this test in a second build) is no obstacle.
const QStringList StandardPortAddresses = {QStringLiteral("127.0.0.1"), QStringLiteral("127.12.3.1"),
                                           QStringLiteral("127.12.3.2"), QStringLiteral("127.12.3.3")};
constexpr int LocalStratum = 7;

// Loopback offsets and round trips are well under this; anything above it is a fault, not noise.
constexpr double FewMilliseconds = 0.010;
constexpr double OneMillisecond = 0.001;
// One reading of either tool can be off by a few milliseconds when the scheduler holds a process
// between a timestamp and its datagram; several are taken and the outliers left out. On a busy
// machine more are taken, until ntpdate has one whose own error bound is small.
constexpr int ComparedSamples = 7;
constexpr int MaxComparedSamples = 21;
constexpr double TrustedPeerDistance = 0.0005;

constexpr double UnixEpochInNtpSeconds = 2208988800.0;

QString findTool(const QString& name)
{
    const QString onPath = QStandardPaths::findExecutable(name);
    if (!onPath.isEmpty())
        return onPath;
    // An ordinary user's PATH often lacks the sbin folders where Debian puts both tools.
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

quint16 freeLoopbackPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0, QAbstractSocket::DontShareAddress))
        return 0;
    return probe.localPort();
}

bool portCanBeBound(const QString& address, quint16 port)
{
    QUdpSocket probe;
    return probe.bind(QHostAddress(address), port, QAbstractSocket::DontShareAddress);
}

// The real UTC clock to the microsecond: the loopback responder's own clock reads whole
// milliseconds, which would blur a comparison held to one.
double preciseNtpNow()
{
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return UnixEpochInNtpSeconds + static_cast<double>(micros) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString secondsList(const std::vector<double>& values)
{
    QStringList texts;
    for (double value : values)
        texts << QString::number(value, 'f', 6);
    return texts.join(QLatin1Char(' '));
}

// The machine's clock for reading. These tests must never set it: an attempt fails the test and
// leaves the clock alone.
class ReadOnlyClock final : public Clock
{
public:
    SYSTEMTIME utcNow() const override { return m_system.utcNow(); }

    bool setUtc(const SYSTEMTIME&) override
    {
        ++m_setAttempts;
        QTest::qFail("the poll cycle tried to set the system clock", __FILE__, __LINE__);
        return false;
    }

    int setAttempts() const { return m_setAttempts; }

private:
    SystemClock m_system;
    int m_setAttempts = 0;
};

// A chronyd of this test's own: serving its local clock at a stratum on one loopback port, with
// its configuration, pid and drift files in a temporary folder, and no say over the system clock.
// Stopped by its PID when the object goes, whatever way the test ends.
class ChronydServer
{
public:
    enum class Start { Ready, PortTaken, Failed };

    ChronydServer(QString program, QString address, quint16 port, int stratum)
        : m_program(std::move(program)), m_address(std::move(address)), m_port(port), m_stratum(stratum)
    {
    }
    ~ChronydServer() { stop(); }
    ChronydServer(const ChronydServer&) = delete;
    ChronydServer& operator=(const ChronydServer&) = delete;

    // Starts it and waits until it answers as a synchronised server of the given stratum.
    Start start();
    void stop();

    // Why start() failed, with everything chronyd wrote.
    QString failure() const { return m_failure + QStringLiteral("\nchronyd said:\n") + m_log; }

private:
    bool writeConfig(const QString& path);
    bool answersAsServer();

    const QString m_program;
    const QString m_address;
    const quint16 m_port;
    const int m_stratum;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_failure;
    QString m_log;
};

bool ChronydServer::writeConfig(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    // No server, pool or refclock line: it serves its own clock and sends nothing anywhere.
    // A client asking another loopback address still sends from 127.0.0.1, the route's source.
    const QString config = QStringLiteral("bindaddress %5\n"
                                          "port %1\n"
                                          "allow 127.0.0.0/8\n"
                                          "local stratum %2\n"
                                          // Neither chronyc's UDP port nor its Unix socket under /run.
                                          "cmdport 0\n"
                                          "bindcmdaddress /\n"
                                          "pidfile %3\n"
                                          "driftfile %4\n")
                               .arg(m_port)
                               .arg(m_stratum)
                               .arg(m_dir.filePath(QStringLiteral("chronyd.pid")),
                                    m_dir.filePath(QStringLiteral("chronyd.drift")), m_address);
    return file.write(config.toUtf8()) > 0;
}

ChronydServer::Start ChronydServer::start()
{
    if (!m_dir.isValid()) {
        m_failure = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return Start::Failed;
    }
    const QString configPath = m_dir.filePath(QStringLiteral("chrony.conf"));
    if (!writeConfig(configPath)) {
        m_failure = QStringLiteral("cannot write ") + configPath;
        return Start::Failed;
    }

    // -x: never adjust or set the system clock. -d: stay in the foreground, log to our pipe.
    QStringList arguments{QStringLiteral("-x"), QStringLiteral("-d"), QStringLiteral("-4"),
                          QStringLiteral("-f"), configPath};
    // As root it would switch to its own user, who cannot enter a temporary folder only root may;
    // as anyone else it refuses to start without -U.
    if (::geteuid() == 0)
        arguments << QStringLiteral("-u") << QStringLiteral("root");
    else
        arguments << QStringLiteral("-U");
    m_process.setProgram(m_program);
    m_process.setArguments(arguments);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
#ifdef Q_OS_LINUX
    // Should this test die without unwinding, chronyd goes with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    m_process.start();
    if (!m_process.waitForStarted(WaitMs)) {
        m_failure = QStringLiteral("chronyd did not start: ") + m_process.errorString();
        return Start::Failed;
    }

    for (int attempt = 0; attempt < ReadinessTries && m_process.state() == QProcess::Running; ++attempt) {
        if (!answersAsServer())
            continue;
        QFile pidFile(m_dir.filePath(QStringLiteral("chronyd.pid")));
        const qint64 writtenPid =
            pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toLongLong() : 0;
        if (writtenPid != m_process.processId()) {
            m_failure = QStringLiteral("the pid file names %1, not the child %2")
                            .arg(writtenPid)
                            .arg(m_process.processId());
            stop();
            return Start::Failed;
        }
        return Start::Ready;
    }
    stop();
    // What chronyd 4 logs when another socket holds its address and port.
    if (m_log.contains(QStringLiteral("Could not open NTP socket")))
        return Start::PortTaken;
    m_failure = QStringLiteral("chronyd did not answer on %1:%2").arg(m_address).arg(m_port);
    return Start::Failed;
}

bool ChronydServer::answersAsServer()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0)) {
        QThread::msleep(ReadinessTryMs);
        return false;
    }
    // A version 4 client request whose transmit field is a marker the reply must echo.
    QByteArray request(static_cast<qsizetype>(NtpPacketSize), '\0');
    request[0] = static_cast<char>(0x23);
    const QByteArray marker = QByteArrayLiteral("Ostrelle");
    request.replace(40, marker.size(), marker);
    probe.writeDatagram(request, QHostAddress(m_address), m_port);
    if (!probe.waitForReadyRead(ReadinessTryMs))
        return false;
    const QByteArray reply = probe.receiveDatagram().data();
    if (reply.size() < static_cast<qsizetype>(NtpPacketSize))
        return false;
    const int leap = static_cast<quint8>(reply[0]) >> 6;
    const int mode = static_cast<quint8>(reply[0]) & 0x7;
    const int stratum = static_cast<quint8>(reply[1]);
    if (mode == 4 && leap != 3 && stratum == m_stratum && reply.mid(24, 8) == marker)
        return true;
    // Right after start it may still call itself unsynchronised; give it a moment.
    QThread::msleep(ReadinessTryMs);
    return false;
}

void ChronydServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        const auto pid = static_cast<pid_t>(m_process.processId());
        if (pid > 0)
            ::kill(pid, SIGTERM);
        if (!m_process.waitForFinished(StopWaitMs) && pid > 0) {
            ::kill(pid, SIGKILL);
            m_process.waitForFinished(StopWaitMs);
        }
    }
    m_log += QString::fromLocal8Bit(m_process.readAll());
}

struct NtpdateReading
{
    std::optional<double> offset;
    // ntpdate's bound on the error of this offset (half the round trip and the server's precision).
    double distance = std::numeric_limits<double>::infinity();
    QString output;
};

// ntpdate's offset for server in seconds, positive when the local clock is behind it.
NtpdateReading askNtpdate(const QString& program, const QString& server)
{
    NtpdateReading reading;
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    // Never without -q: as root, ntpdate would otherwise step the machine's clock.
    process.start(program, {QStringLiteral("-q"), server});
    // Waited for in an event loop that wakes at once, so that a responder in this process stamps
    // its reply when the request arrives, not a polling interval later.
    if (!process.waitForStarted(WaitMs) || (finished.isEmpty() && !finished.wait(WaitMs))) {
        process.kill();
        process.waitForFinished(StopWaitMs);
        reading.output = QStringLiteral("ntpdate did not finish: ") + process.errorString();
        return reading;
    }
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    reading.output = out + QString::fromLocal8Bit(process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return reading;
    // "2026-01-02 03:04:05.123456 (+0000) +0.000025 +/- 0.000057 127.0.0.1 s7 no-leap"
    static const QRegularExpression line(
        QStringLiteral(R"(\([+-]\d{4}\)\s+([+-]?\d+\.\d+)\s+\+/-\s+(\d+\.\d+|\?))"));
    const QRegularExpressionMatch match = line.match(out);
    if (!match.hasMatch())
        return reading;
    bool ok = false;
    const double offset = match.captured(1).toDouble(&ok);
    if (!ok)
        return reading;
    reading.offset = offset;
    bool distanceOk = false;
    const double distance = match.captured(2).toDouble(&distanceOk);
    if (distanceOk)
        reading.distance = distance;
    return reading;
}

// The main window's poll cycle over the real socket and the real clock (read only), polling
// servers at one port, with clock adjustment switched off.
struct LiveMonitor
{
    explicit LiveMonitor(quint16 serverPort) : channel(serverPort, 0)
    {
        settings.SysTimeAdj = 0;
        cycle = std::make_unique<PollCycle>(table, settings, channel, clock, messages);
        cycle->setBestStratum(-1);
    }

    // One pass over the table, its first step taken by a tick as the window's timer would;
    // false when the pass did not end within the wait.
    [[nodiscard]] bool pass()
    {
        QSignalSpy ended(cycle.get(), &PollCycle::labelsChanged);
        cycle->setPollCountdown(0);
        cycle->TimerTimeout_Timer();
        return ended.wait(WaitMs);
    }

    QString cell(int row, int col) const { return table.TextMatrix(row, col); }

    bool rowIs(int row, int colour) const
    {
        for (int col = 0; col < ServerTable::ColumnCount; ++col) {
            if (table.cellColour(row, col) != colour)
                return false;
        }
        return true;
    }

    ServerTable table;
    Settings settings;
    QtUdpChannel channel;
    ReadOnlyClock clock;
    ScriptedMessageDialog messages;
    std::unique_ptr<PollCycle> cycle;
};

std::optional<double> secondsOfCell(const QString& text)
{
    bool ok = false;
    const double value = QLocale().toDouble(text, &ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace

class TestChronyE2e : public QObject
{
    Q_OBJECT

private slots:
    void shouldShowLocalChronydAsHealthyRowWithinMilliseconds();
    void shouldAgreeWithNtpdateOnOffsetWithinOneMillisecond_data();
    void shouldAgreeWithNtpdateOnOffsetWithinOneMillisecond();
};

void TestChronyE2e::shouldShowLocalChronydAsHealthyRowWithinMilliseconds()
{
    const QString chronyd = findTool(QStringLiteral("chronyd"));
    if (chronyd.isEmpty())
        QSKIP("chronyd is not installed (Debian package chrony)");
    const quint16 port = freeLoopbackPort();
    QVERIFY(port != 0);
    ChronydServer server(chronyd, ServerAddress, port, LocalStratum);
    const ChronydServer::Start started = server.start();
    QVERIFY2(started == ChronydServer::Start::Ready, qPrintable(server.failure()));

    LiveMonitor monitor(port);
    monitor.table.AddServerRow(ServerAddress);
    QVERIFY2(monitor.pass(), "chronyd's reply did not end the pass");

    QCOMPARE(monitor.cell(1, ServerTable::ColServer), ServerAddress);
    QCOMPARE(monitor.cell(1, ServerTable::ColStatus), QStringLiteral("OK"));
    QCOMPARE(monitor.cell(1, ServerTable::ColVersion), QStringLiteral("4"));
    QCOMPARE(monitor.cell(1, ServerTable::ColStratum), QString::number(LocalStratum));
    QVERIFY(monitor.rowIs(1, ServerTable::ColourNormal));

    const std::optional<double> offset = secondsOfCell(monitor.cell(1, ServerTable::ColOffset));
    const std::optional<double> roundTrip = secondsOfCell(monitor.cell(1, ServerTable::ColRoundTrip));
    QVERIFY2(offset, qPrintable(monitor.cell(1, ServerTable::ColOffset)));
    QVERIFY2(roundTrip, qPrintable(monitor.cell(1, ServerTable::ColRoundTrip)));
    QVERIFY2(std::abs(*offset) <= FewMilliseconds, qPrintable(monitor.cell(1, ServerTable::ColOffset)));
    QVERIFY2(std::abs(*roundTrip) <= FewMilliseconds, qPrintable(monitor.cell(1, ServerTable::ColRoundTrip)));

    // The pass offered chronyd as the clock source, and nothing set the clock from it.
    QCOMPARE(monitor.cycle->BestServer(), ServerAddress);
    QCOMPARE(SecondsText(monitor.cycle->BestOffset()), monitor.cell(1, ServerTable::ColOffset));
    QCOMPARE(monitor.cycle->LabelSync(), QStringLiteral("None"));
    QCOMPARE(monitor.clock.setAttempts(), 0);
    QVERIFY(monitor.messages.shown.isEmpty());
}

void TestChronyE2e::shouldAgreeWithNtpdateOnOffsetWithinOneMillisecond_data()
{
    QTest::addColumn<bool>("useChronyd");
    QTest::addColumn<double>("trueOffset");
    // Same machine, same clock: the true offset is zero.
    QTest::newRow("local chronyd") << true << 0.0;
    // chronyd cannot be made to run ahead; the loopback responder can.
    QTest::newRow("responder running 5 s ahead") << false << 5.0;
}

void TestChronyE2e::shouldAgreeWithNtpdateOnOffsetWithinOneMillisecond()
{
    QFETCH(bool, useChronyd);
    QFETCH(double, trueOffset);
    const QString ntpdate = findTool(QStringLiteral("ntpdate"));
    if (ntpdate.isEmpty())
        QSKIP("ntpdate is not installed (Debian package ntpsec-ntpdate)");
    const QString chronyd = findTool(QStringLiteral("chronyd"));
    if (useChronyd && chronyd.isEmpty())
        QSKIP("chronyd is not installed (Debian package chrony)");

    // ntpsec's ntpdate (over ntpdig) has no option for another port.
    QString address;
    std::unique_ptr<ChronydServer> server;
    std::unique_ptr<NtpResponder> responder;
    for (const QString& candidate : StandardPortAddresses) {
        if (!portCanBeBound(candidate, StandardNtpPort))
            continue;
        if (useChronyd) {
            server = std::make_unique<ChronydServer>(chronyd, candidate, StandardNtpPort, LocalStratum);
            const ChronydServer::Start started = server->start();
            // Taken by someone else between the look and chronyd's start.
            if (started == ChronydServer::Start::PortTaken)
                continue;
            QVERIFY2(started == ChronydServer::Start::Ready, qPrintable(server->failure()));
        } else {
            responder = std::make_unique<NtpResponder>(QHostAddress(candidate), StandardNtpPort);
            if (!responder->isListening())
                continue;
            responder->fields.offset = trueOffset;
            responder->now = preciseNtpNow;
        }
        address = candidate;
        break;
    }
    if (address.isEmpty())
        QSKIP("ntpdate only asks port 123, and no loopback address has it free here (needs root)");

    LiveMonitor monitor(StandardNtpPort);
    monitor.table.AddServerRow(address);
    std::vector<double> program;
    std::vector<NtpdateReading> peer;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int i = 0; i < MaxComparedSamples; ++i) {
        if (i >= ComparedSamples && bestDistance <= TrustedPeerDistance)
            break;
        QVERIFY2(monitor.pass(), "the server's reply did not end the pass");
        QCOMPARE(monitor.cell(1, ServerTable::ColStatus), QStringLiteral("OK"));
        // The exact offset of this very reply, not only its three decimals.
        QCOMPARE(monitor.cycle->BestServer(), address);
        QCOMPARE(SecondsText(monitor.cycle->BestOffset()), monitor.cell(1, ServerTable::ColOffset));
        program.push_back(monitor.cycle->BestOffset());

        NtpdateReading reading = askNtpdate(ntpdate, address);
        QVERIFY2(reading.offset, qPrintable(QStringLiteral("no offset from ntpdate: ") + reading.output));
        bestDistance = std::min(bestDistance, reading.distance);
        peer.push_back(std::move(reading));
    }

    // The program shows no error bound, so its middle reading stands for it; ntpdate's best is the
    // one with the shortest round trip, as ntpdate chose of old.
    const double programOffset = median(program);
    const NtpdateReading& best =
        *std::min_element(peer.begin(), peer.end(), [](const NtpdateReading& a, const NtpdateReading& b) {
            return a.distance < b.distance;
        });
    const double peerOffset = *best.offset;
    QStringList peerTexts;
    for (const NtpdateReading& reading : peer)
        peerTexts
            << QStringLiteral("%1+/-%2").arg(*reading.offset, 0, 'f', 6).arg(reading.distance, 0, 'f', 6);
    const QString figures = QStringLiteral("%5:123: program %1 (median %2); ntpdate %3 (best %4)")
                                .arg(secondsList(program))
                                .arg(programOffset, 0, 'f', 6)
                                .arg(peerTexts.join(QLatin1Char(' ')))
                                .arg(peerOffset, 0, 'f', 6)
                                .arg(address);
    qInfo("%s", qPrintable(figures));
    QVERIFY2(best.distance <= OneMillisecond,
             qPrintable(QStringLiteral("ntpdate never measured within 1 ms, machine too busy? ") + figures));
    QVERIFY2(std::abs(peerOffset - trueOffset) <= OneMillisecond, qPrintable(figures));
    QVERIFY2(std::abs(programOffset - trueOffset) <= OneMillisecond, qPrintable(figures));
    QVERIFY2(std::abs(programOffset - peerOffset) <= OneMillisecond, qPrintable(figures));
    QCOMPARE(monitor.clock.setAttempts(), 0);
    QVERIFY(monitor.messages.shown.isEmpty());
}

QTEST_GUILESS_MAIN(TestChronyE2e)
#include "test_chrony_e2e.moc"
