// Times the NTS key exchange and one authenticated NTP exchange against a local chronyd serving
// NTS on loopback, beside a plain exchange with the same server and beside chronyd's own client
// ("chronyd -Q" with an nts source) doing a key exchange and one exchange. Prints, never asserts.
//
//   bench_nts [--exchanges 200] [--key-exchanges 20]

#include "bench/benchsupport.h"
#include "ntp/ntpreply.h"
#include "ntp/nts/ntssession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>

#include <unistd.h>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

struct Figures
{
    std::vector<double> wall;
    std::vector<double> cpu;
    int failed = 0;

    void print(const char* what) const
    {
        if (wall.empty()) {
            std::printf("  %-46s no figure (%d failed)\n", what, failed);
            return;
        }
        std::printf("  %-46s median %8.3f ms  worst %8.3f ms  CPU median %7.3f ms  (%zu runs, %d failed)\n",
                    what, Median(wall) * 1e3, Worst(wall) * 1e3, Median(cpu) * 1e3, wall.size(), failed);
    }
};

// One key exchange from a fresh session, as the first poll of an NTS server starts it.
bool keyExchange(NtsSession& session)
{
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&session, &NtsSession::keyExchangeFinished, &loop, [&](bool success) {
        ok = success;
        loop.quit();
    });
    session.startKeyExchange(10s);
    loop.exec();
    return ok;
}

// Sends request and waits for its answer; CPU counts the calls of this thread, waiting included
// only as far as the system charges it.
std::optional<QByteArray> exchange(QUdpSocket& socket, const QByteArray& request, quint16 port)
{
    if (socket.writeDatagram(request, QHostAddress::LocalHost, port) != request.size() ||
        !socket.waitForReadyRead(2000))
        return std::nullopt;
    return socket.receiveDatagram().data();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption exchangesOption("exchanges", "NTP exchanges of each kind.", "n", "200");
    const QCommandLineOption keyExchangesOption("key-exchanges", "Key exchanges.", "n", "20");
    parser.addOptions({exchangesOption, keyExchangesOption});
    parser.process(app);
    const int exchanges = std::max(1, parser.value(exchangesOption).toInt());
    const int keyExchanges = std::max(1, parser.value(keyExchangesOption).toInt());

    std::printf("NTS against a local chronyd (%s)\n\n", qPrintable(LoadText()));
    if (LocalChronyd::executable().isEmpty()) {
        std::printf("chronyd is not installed: no figures\n");
        return 0;
    }
    LocalChronyd chronyd;
    chronyd.serveNts();
    const quint16 ntpPort = FreeLoopbackPort();
    if (QString why; !chronyd.start(QStringLiteral("127.0.0.1"), ntpPort, 7, &why)) {
        std::printf("chronyd did not start: %s\n", qPrintable(why));
        return 1;
    }

    // The first key exchange of a program run also loads the system's trust store.
    Figures firstKe;
    Figures ke;
    NtsSession session("127.0.0.1", chronyd.keyExchangePort());
    session.setExtraTrustFile(chronyd.certificatePath());
    for (int i = 0; i <= keyExchanges; ++i) {
        Figures& figures = i == 0 ? firstKe : ke;
        const auto start = SteadyClock::now();
        const double cpu = ThreadCpuSeconds();
        if (!keyExchange(session)) {
            ++figures.failed;
            continue;
        }
        figures.cpu.push_back(ThreadCpuSeconds() - cpu);
        figures.wall.push_back(SecondsBetween(start, SteadyClock::now()));
    }

    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost, 0)) {
        std::printf("no socket: %s\n", qPrintable(socket.errorString()));
        return 1;
    }
    Figures authenticated;
    Figures plain;
    for (int i = 0; i < exchanges; ++i) {
        if (session.needsKeyExchange() && !keyExchange(session))
            break;
        const NtpTimestampBytes nonce = RandomRequestNonce();
        const NtpPacketBytes header = BuildNtpRequest(nonce);

        auto start = SteadyClock::now();
        double cpu = ThreadCpuSeconds();
        const QByteArray request = session.authenticatedRequest(header);
        const auto reply = exchange(socket, request, session.ntpPort());
        if (reply && session.verifyReply(*reply).accepted() && ParseNtpReply(*reply, nonce).accepted()) {
            authenticated.cpu.push_back(ThreadCpuSeconds() - cpu);
            authenticated.wall.push_back(SecondsBetween(start, SteadyClock::now()));
        } else {
            ++authenticated.failed;
        }

        start = SteadyClock::now();
        cpu = ThreadCpuSeconds();
        const QByteArray plainRequest(reinterpret_cast<const char*>(header.data()), qsizetype(header.size()));
        const auto plainReply = exchange(socket, plainRequest, ntpPort);
        if (plainReply && ParseNtpReply(*plainReply, nonce).accepted()) {
            plain.cpu.push_back(ThreadCpuSeconds() - cpu);
            plain.wall.push_back(SecondsBetween(start, SteadyClock::now()));
        } else {
            ++plain.failed;
        }
    }

    // The peer: chronyd's own client, started for one measurement of an nts source and then
    // ended; its figure includes starting the program.
    Figures peer;
    QTemporaryDir peerDir;
    // As root it would switch to its own user, who cannot read the test's folder.
    const QStringList peerArguments =
        QStringList{"-Q", "-t", "10"} + (::geteuid() == 0 ? QStringList{"-u", "root"} : QStringList{"-U"}) +
        QStringList{QString("server 127.0.0.1 port %1 ntsport %2 nts iburst maxsamples 1")
                        .arg(ntpPort)
                        .arg(chronyd.keyExchangePort()),
                    "ntstrustedcerts " + chronyd.certificatePath(), "pidfile " + peerDir.filePath("pid"),
                    "cmdport 0", "bindcmdaddress /"};
    for (int i = 0; i < std::min(keyExchanges, 10) && peerDir.isValid(); ++i) {
        const ProgramRun run = RunProgram(LocalChronyd::executable(), peerArguments, 15000);
        if (!run.finished || run.exitCode != 0) {
            if (peer.failed++ == 0)
                std::printf("chronyd -Q: %s\n", run.output.constData());
            continue;
        }
        peer.wall.push_back(run.wallSeconds);
        peer.cpu.push_back(run.cpuSeconds);
    }

    firstKe.print("first key exchange (loads the trust store)");
    ke.print("key exchange (TLS 1.3, records, exporter)");
    authenticated.print("authenticated exchange (build, send, verify)");
    plain.print("plain exchange, same server");
    peer.print("chronyd -Q: start, key exchange, one exchange");
    return 0;
}
