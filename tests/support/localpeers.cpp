#include "tests/support/localpeers.h"

#include "ntp/ntpreply.h"
#include "timekeeping/ntppacket.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimeZone>
#include <QUdpSocket>
#include <array>
#include <chrono>
#include <cstring>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#ifndef Q_OS_WIN
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace ostrelle {

namespace {

// The peers are Linux programs (chrony, ntpsec-ntpdate): a Windows build, under Wine or not, finds
// neither, and the tests that need them are skipped.
QString findExecutable(std::initializer_list<const char*> paths)
{
#ifdef Q_OS_WIN
    Q_UNUSED(paths);
#else
    for (const char* path : paths) {
        if (::access(path, X_OK) == 0)
            return QString::fromLatin1(path);
    }
#endif
    return {};
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.flush();
}

#ifndef Q_OS_WIN // chronyd, the only server it waits for, runs on Linux alone
// Sends one client request and waits (at most timeoutMs) for the answer that echoes it, from a
// server that calls itself synchronised.
bool answersSynchronised(const QString& address, std::uint16_t port, int timeoutMs)
{
    const NtpTimestampBytes nonce = RandomRequestNonce();
    const NtpPacketBytes request = BuildNtpRequest(nonce);
    QUdpSocket probe;
    probe.writeDatagram(reinterpret_cast<const char*>(request.data()), request.size(), QHostAddress(address),
                        port);
    if (!probe.waitForReadyRead(timeoutMs))
        return false;
    const ParsedReply parsed = ParseNtpReply(probe.receiveDatagram().data(), nonce);
    return parsed.accepted() && parsed.reply.leap != 3;
}
#endif

} // namespace

bool MakeSelfSignedCertificate(const QString& folder, bool expired, QString& log)
{
    gnutls_x509_privkey_t key = nullptr;
    gnutls_x509_crt_t certificate = nullptr;
    gnutls_datum_t keyPem{};
    gnutls_datum_t certificatePem{};
    const auto cleanUp = qScopeGuard([&] {
        gnutls_free(keyPem.data);
        gnutls_free(certificatePem.data);
        gnutls_x509_crt_deinit(certificate);
        gnutls_x509_privkey_deinit(key);
    });
    const auto check = [&log](int code, const char* doing) {
        if (code < 0)
            log += QStringLiteral("%1: %2\n")
                       .arg(QLatin1String(doing), QString::fromUtf8(gnutls_strerror(code)));
        return code >= 0;
    };

    const unsigned char loopback[] = {127, 0, 0, 1};
    std::array<unsigned char, 8> serial{};
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(serial.data()), 2);
    serial[0] &= 0x7f; // a serial number is positive
    const QDateTime from = expired ? QDateTime(QDate(2020, 1, 1), QTime(0, 0), QTimeZone::utc())
                                   : QDateTime::currentDateTimeUtc();
    const QDateTime until = from.addDays(1);
    const auto dnsName = [&](const char* name) {
        return gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_DNSNAME, name,
                                                    unsigned(std::strlen(name)), GNUTLS_FSAN_APPEND);
    };
    // A self-signed authority for localhost, time.example (a name only a test's resolver knows) and
    // 127.0.0.1, that may serve TLS: ECDSA P-256, signed with SHA-256.
    const bool made =
        check(gnutls_x509_privkey_init(&key), "key") &&
        check(gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA,
                                           GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0),
              "key") &&
        check(gnutls_x509_crt_init(&certificate), "certificate") &&
        check(gnutls_x509_crt_set_version(certificate, 3), "version") &&
        check(gnutls_x509_crt_set_serial(certificate, serial.data(), serial.size()), "serial") &&
        check(gnutls_x509_crt_set_activation_time(certificate, from.toSecsSinceEpoch()), "activation") &&
        check(gnutls_x509_crt_set_expiration_time(certificate, until.toSecsSinceEpoch()), "expiration") &&
        check(gnutls_x509_crt_set_dn(certificate, "CN=localhost", nullptr), "subject") &&
        check(dnsName("localhost"), "names") && check(dnsName("time.example"), "names") &&
        check(gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_IPADDRESS, loopback,
                                                   sizeof loopback, GNUTLS_FSAN_APPEND),
              "address") &&
        check(gnutls_x509_crt_set_basic_constraints(certificate, 1, -1), "authority") &&
        check(gnutls_x509_crt_set_key_usage(certificate,
                                            GNUTLS_KEY_DIGITAL_SIGNATURE | GNUTLS_KEY_KEY_CERT_SIGN),
              "key usage") &&
        check(gnutls_x509_crt_set_key_purpose_oid(certificate, GNUTLS_KP_TLS_WWW_SERVER, 0), "purpose") &&
        check(gnutls_x509_crt_set_key(certificate, key), "public key") &&
        check(gnutls_x509_crt_sign2(certificate, certificate, key, GNUTLS_DIG_SHA256, 0), "signature") &&
        check(gnutls_x509_privkey_export2(key, GNUTLS_X509_FMT_PEM, &keyPem), "key export") &&
        check(gnutls_x509_crt_export2(certificate, GNUTLS_X509_FMT_PEM, &certificatePem),
              "certificate export");
    if (!made)
        return false;
    const QDir dir(folder);
    return writeFile(dir.filePath(QStringLiteral("key.pem")),
                     QByteArray(reinterpret_cast<const char*>(keyPem.data), qsizetype(keyPem.size))) &&
           writeFile(dir.filePath(QStringLiteral("cert.pem")),
                     QByteArray(reinterpret_cast<const char*>(certificatePem.data),
                                qsizetype(certificatePem.size)));
}

quint16 FreeLoopbackPort()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        QTcpServer tcp;
        if (!tcp.listen(QHostAddress::LocalHost, 0))
            continue;
        QUdpSocket udp;
        if (udp.bind(QHostAddress::LocalHost, tcp.serverPort()))
            return tcp.serverPort();
    }
    return 0;
}

LocalChronyd::LocalChronyd() = default;

LocalChronyd::~LocalChronyd()
{
    stop();
}

QString LocalChronyd::executable()
{
    return findExecutable({"/usr/sbin/chronyd", "/usr/bin/chronyd"});
}

void LocalChronyd::serveNts(bool expiredCertificate)
{
    m_serveNts = true;
    m_expiredCertificate = expiredCertificate;
}

QString LocalChronyd::certificatePath() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("cert.pem")) : QString();
}

bool LocalChronyd::start(const QString& address, std::uint16_t port, int stratum, QString* whyNot,
                         int timeoutMs)
{
    stop();
    const auto fail = [&](const QString& why) {
        if (whyNot)
            *whyNot = why;
        stop();
        return false;
    };
    const QString program = executable();
    if (program.isEmpty())
        return fail(QStringLiteral("chronyd is not installed"));
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid())
        return fail(m_dir->errorString());
    const QString config = m_dir->filePath(QStringLiteral("chrony.conf"));
    QString ntsConfig;
    if (m_serveNts) {
        QString log;
        if (!MakeSelfSignedCertificate(m_dir->path(), m_expiredCertificate, log))
            return fail(QStringLiteral("no certificate: ") + log);
        m_keyExchangePort = FreeLoopbackPort();
        // The key exchange in the main process, so that there is one PID to stop.
        ntsConfig = QStringLiteral("ntsserverkey %1/key.pem\nntsservercert %1/cert.pem\nntsport %2\n"
                                   "ntsdumpdir %1\nntsprocesses 0\n")
                        .arg(m_dir->path(), QString::number(m_keyExchangePort));
    }
    {
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
            return fail(file.errorString());
        QTextStream out(&file);
        // No server, pool or refclock: it asks nobody. Neither chronyc's UDP port nor its socket in /run.
        out << "port " << port << "\nbindaddress " << address << "\nallow 127.0.0.0/8\nlocal stratum "
            << stratum << "\ncmdport 0\nbindcmdaddress /\npidfile "
            << m_dir->filePath(QStringLiteral("chronyd.pid")) << "\ndriftfile "
            << m_dir->filePath(QStringLiteral("chronyd.drift")) << "\n"
            << ntsConfig;
    }
#ifdef Q_OS_WIN
    Q_UNUSED(timeoutMs);
    return fail(QStringLiteral("chronyd cannot run on Windows"));
#else
    const QByteArray programBytes = program.toLocal8Bit();
    const QByteArray configBytes = config.toLocal8Bit();
    const QByteArray logBytes = m_dir->filePath(QStringLiteral("chronyd.log")).toLocal8Bit();
    // -x: never touch this machine's clock; -d: stay in the foreground, owned by this process. As
    // root it would switch to its own user, who cannot enter a folder only root may; as anyone
    // else it refuses to start without -U.
    const bool root = ::geteuid() == 0;
    std::array<const char*, 10> argv = {
        programBytes.constData(), "-x",    "-d",   "-4", "-f", configBytes.constData(), root ? "-u" : "-U",
        root ? "root" : nullptr,  nullptr, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logBytes.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return fail(QStringLiteral("cannot start chronyd"));
    m_pid = pid;

    const auto log = [&logBytes] {
        QFile file(QString::fromLocal8Bit(logBytes));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()).trimmed() : QString();
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            m_pid = -1;
            return fail(QStringLiteral("chronyd ended: ") + log());
        }
        if (answersSynchronised(address, port, 200)) {
            if (!m_serveNts)
                return true;
            QTcpSocket probe;
            probe.connectToHost(QHostAddress(address), m_keyExchangePort);
            if (probe.waitForConnected(200))
                return true;
        }
        ::usleep(100000);
    }
    return fail(QStringLiteral("chronyd did not answer as a synchronised server in time: ") + log());
#endif
}

void LocalChronyd::stop()
{
#ifndef Q_OS_WIN
    if (m_pid > 0) {
        ::kill(static_cast<pid_t>(m_pid), SIGTERM);
        int status = 0;
        bool reaped = false;
        for (int i = 0; i < 500 && !reaped; ++i) {
            reaped = ::waitpid(static_cast<pid_t>(m_pid), &status, WNOHANG) == m_pid;
            if (!reaped)
                ::usleep(10000);
        }
        if (!reaped) {
            ::kill(static_cast<pid_t>(m_pid), SIGKILL);
            ::waitpid(static_cast<pid_t>(m_pid), &status, 0);
        }
        m_pid = -1;
    }
#endif
    m_dir.reset();
}

QString NtpdateExecutable()
{
    return findExecutable({"/usr/sbin/ntpdate", "/usr/bin/ntpdate"});
}

std::optional<NtpdateReading> ParseNtpdateOutput(const QByteArray& output)
{
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        const auto plusMinus = std::find(words.begin(), words.end(), QByteArray("+/-"));
        if (plusMinus == words.begin() || plusMinus == words.end() || std::next(plusMinus) == words.end())
            continue;
        bool offsetRead = false;
        bool boundRead = false;
        const NtpdateReading reading{std::prev(plusMinus)->toDouble(&offsetRead),
                                     std::next(plusMinus)->toDouble(&boundRead)};
        if (offsetRead && boundRead)
            return reading;
    }
    return std::nullopt;
}

} // namespace ostrelle
