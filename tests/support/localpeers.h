#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <optional>

class QTemporaryDir;

namespace ostrelle {

// A chronyd of a test's or benchmark's own: it never touches this machine's clock (-x), runs in the
// foreground, serves "local stratum" on one loopback address and port, asks nobody, and keeps its
// files in a temporary folder. Stopped by its PID when destroyed.
class LocalChronyd
{
public:
    LocalChronyd();
    ~LocalChronyd();
    LocalChronyd(const LocalChronyd&) = delete;
    LocalChronyd& operator=(const LocalChronyd&) = delete;

    static QString executable(); // empty when chronyd is not installed

    // Before start(): also serve NTS, the key exchange on a free loopback port, with a self-signed
    // certificate made in its folder (MakeSelfSignedCertificate), or one that expired in 2020.
    void serveNts(bool expiredCertificate = false);

    // Starts it and waits (at most timeoutMs) until it answers as a synchronised server. On failure
    // whyNot holds the reason and chronyd's own log.
    [[nodiscard]] bool start(const QString& address, std::uint16_t port, int stratum, QString* whyNot,
                             int timeoutMs = 15000);
    void stop();
    long pid() const { return m_pid; }
    quint16 keyExchangePort() const { return m_keyExchangePort; } // 0 without NTS
    QString certificatePath() const;                              // the NTS certificate, PEM

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    long m_pid = -1;
    bool m_serveNts = false;
    bool m_expiredCertificate = false;
    quint16 m_keyExchangePort = 0;
};

// A port nobody holds on 127.0.0.1 at this moment, for TCP and UDP alike; 0 if none was found.
quint16 FreeLoopbackPort();

// Writes key.pem and cert.pem into folder: a self-signed certificate for 127.0.0.1, localhost
// and time.example (a name only a test's resolver knows), valid from now for a day, or one that expired in
// 2020, made with GnuTLS itself so that it can be made on every system. False with log telling why.
[[nodiscard]] bool MakeSelfSignedCertificate(const QString& folder, bool expired, QString& log);

// The query-only peer, "ntpdate -q" (it only ever asks port 123). Empty when not installed.
QString NtpdateExecutable();

// What ntpdate -q printed: "... +0.000123 +/- 0.000050 host ...": the offset (seconds, positive
// when the local clock is behind) and its own bound on the error of it.
struct NtpdateReading
{
    double offset = 0.0;
    double errorBound = 0.0;
};
std::optional<NtpdateReading> ParseNtpdateOutput(const QByteArray& output);

} // namespace ostrelle
