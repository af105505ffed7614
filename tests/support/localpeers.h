#pragma once

#include <QByteArray>
#include <QString>
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

    // Starts it and waits (at most timeoutMs) until it answers as a synchronised server. On failure
    // whyNot holds the reason and chronyd's own log.
    [[nodiscard]] bool start(const QString& address, std::uint16_t port, int stratum, QString* whyNot,
                             int timeoutMs = 15000);
    void stop();
    long pid() const { return m_pid; }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    long m_pid = -1;
};

// Sends one client request to an IPv4 address and port and waits (at most timeoutMs) for the
// answer that echoes it: its leap indicator and stratum, or nothing.
struct ProbeAnswer
{
    int leap = 0;
    int stratum = 0;
};
std::optional<ProbeAnswer> ProbeNtpServer(const QString& address, std::uint16_t port, int timeoutMs);

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
