#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace ostrelle {

// Writes key.pem and cert.pem into folder: a self-signed certificate for 127.0.0.1 and
// localhost, valid from now for a day, or one that expired in 2020. False with log telling why.
[[nodiscard]] bool MakeSelfSignedCertificate(const QString& folder, bool expired, QString& log);
// Whether certtool, which makes them, is installed.
bool CanMakeCertificates();

// A chronyd of a test's own serving NTS on loopback: key exchange and NTP each on a free port,
// its configuration, pid, key, certificate and dump files in a temporary folder, no say over the
// system clock (-x). Stopped by its PID when destroyed.
class NtsChronyd
{
public:
    NtsChronyd();
    ~NtsChronyd();
    NtsChronyd(const NtsChronyd&) = delete;
    NtsChronyd& operator=(const NtsChronyd&) = delete;

    // Whether chronyd and certtool are installed; tests skip without them.
    static bool available();

    // Makes a self-signed certificate (MakeSelfSignedCertificate), then starts chronyd and waits until its
    // key exchange port accepts connections. False with log() telling why.
    [[nodiscard]] bool start(bool expiredCertificate = false);

    quint16 keyExchangePort() const { return m_kePort; }
    quint16 ntpPort() const { return m_ntpPort; }
    QString certificatePath() const { return m_dir.filePath("cert.pem"); }
    QString log() const { return m_log; }

private:
    [[nodiscard]] bool makeCertificate(bool expired);
    [[nodiscard]] bool runChronyd();

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_kePort = 0;
    quint16 m_ntpPort = 0;
    QString m_log;
};

} // namespace ostrelle
