#include "tests/ntp/ntschronyd.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUdpSocket>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace ostrelle {

namespace {

constexpr int WaitMs = 5000;

// Where Debian puts them: folders an ordinary user's PATH often lacks.
QString chronydPath()
{
    return QStandardPaths::findExecutable("chronyd", {"/usr/sbin", "/sbin"});
}

QString certtoolPath()
{
    return QStandardPaths::findExecutable("certtool");
}

// A port nobody holds on 127.0.0.1 at this moment, for TCP and UDP alike.
quint16 freePort()
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

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.flush();
}

} // namespace

bool CanMakeCertificates()
{
    return !certtoolPath().isEmpty();
}

bool MakeSelfSignedCertificate(const QString& folder, bool expired, QString& log)
{
    const QByteArray dates = expired ? "activation_date = \"2020-01-01 00:00:00 UTC\"\n"
                                       "expiration_date = \"2020-01-02 00:00:00 UTC\"\n"
                                     : "expiration_days = 1\n";
    const QByteArray templ = "cn = \"localhost\"\ndns_name = \"localhost\"\nip_address = \"127.0.0.1\"\n"
                             "ca\ncert_signing_key\nsigning_key\ntls_www_server\n" +
                             dates;
    const QDir dir(folder);
    if (!writeFile(dir.filePath("cert.cfg"), templ))
        return false;
    QProcess certtool;
    certtool.setProcessChannelMode(QProcess::MergedChannels);
    const auto run = [&](const QStringList& arguments) {
        certtool.start(certtoolPath(), arguments);
        const bool ok = certtool.waitForFinished(30000) && certtool.exitCode() == 0;
        if (!ok)
            log += QString::fromLocal8Bit(certtool.readAll());
        return ok;
    };
    return run({"--generate-privkey", "--key-type=ecdsa", "--outfile", dir.filePath("key.pem")}) &&
           run({"--generate-self-signed", "--load-privkey", dir.filePath("key.pem"), "--template",
                dir.filePath("cert.cfg"), "--outfile", dir.filePath("cert.pem")});
}

NtsChronyd::NtsChronyd() = default;

NtsChronyd::~NtsChronyd()
{
    // Stopped by its PID, whatever way the test ends; SIGKILL (to the same PID) should it linger.
    const auto pid = static_cast<pid_t>(m_process.processId());
    if (pid > 0 && ::kill(pid, SIGTERM) == 0 && !m_process.waitForFinished(WaitMs))
        m_process.kill();
}

bool NtsChronyd::available()
{
    return !chronydPath().isEmpty() && CanMakeCertificates();
}

bool NtsChronyd::start(bool expiredCertificate)
{
    if (!m_dir.isValid() || !makeCertificate(expiredCertificate))
        return false;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (runChronyd())
            return true;
        // Another process may have taken a port between our look and chronyd's bind.
        if (!m_log.contains("Could not open"))
            return false;
    }
    return false;
}

bool NtsChronyd::makeCertificate(bool expired)
{
    return MakeSelfSignedCertificate(m_dir.path(), expired, m_log);
}

bool NtsChronyd::runChronyd()
{
    m_kePort = freePort();
    m_ntpPort = freePort();
    // No server, pool or refclock: it asks nobody. Neither chronyc's UDP port nor its socket in
    // /run; the key exchange in the main process, so there is one PID to stop.
    const QString config = QString("bindaddress 127.0.0.1\nport %1\nallow 127.0.0.0/8\nlocal stratum 7\n"
                                   "cmdport 0\nbindcmdaddress /\npidfile %2/pid\ndriftfile %2/drift\n"
                                   "ntsserverkey %2/key.pem\nntsservercert %2/cert.pem\nntsport %3\n"
                                   "ntsdumpdir %2\nntsprocesses 0\n")
                               .arg(QString::number(m_ntpPort), m_dir.path(), QString::number(m_kePort));
    if (!writeFile(m_dir.filePath("chrony.conf"), config.toUtf8()))
        return false;
    // As root it would switch to its own user, who cannot enter a folder only root may; as anyone
    // else it refuses to start without -U.
    const QStringList user = ::geteuid() == 0 ? QStringList{"-u", "root"} : QStringList{"-U"};
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // Should the test die without unwinding, chronyd goes with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start(chronydPath(), QStringList{"-x", "-d", "-4", "-f", m_dir.filePath("chrony.conf")} + user);
    if (!m_process.waitForStarted(WaitMs))
        return false;
    for (int attempt = 0; attempt < 50; ++attempt) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_kePort);
        if (probe.waitForConnected(100))
            return true;
        if (m_process.waitForFinished(100))
            break;
    }
    m_log += QString::fromLocal8Bit(m_process.readAll());
    m_process.kill();
    m_process.waitForFinished(WaitMs);
    return false;
}

} // namespace ostrelle
