#pragma once

#include "platform/clock.h"
#include "platform/systemclock.h"
#include "tests/support/localpeers.h"
#include "tests/support/readonlyclock.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class QTemporaryDir;

namespace ostrelle {

using SteadyClock = std::chrono::steady_clock;

// The real UTC time in NtpSeconds to the nanosecond the system offers (the program reads milliseconds).
double PreciseNtpNow();

double SecondsBetween(SteadyClock::time_point from, SteadyClock::time_point to);

// CPU seconds (user + system) of the calling thread / of the whole process so far.
double ThreadCpuSeconds();
double ProcessCpuSeconds();

// VmRSS and VmHWM of a process (0: this one) in KiB; 0 when unknown.
long ResidentKiB(long pid = 0);
long PeakResidentKiB(long pid = 0);
// utime + stime of another process, in seconds; negative when unknown.
double ProcessCpuSecondsOf(long pid);

// 127.0.0.0/8 address number i counted from first (host byte order), as text.
QString LoopbackAddress(std::uint32_t first, int i);
// 127.77.0.2 onwards: away from 127.0.0.1 and the low addresses other tools and tests tend to take.
constexpr std::uint32_t LoopbackFirst = 0x7F4D0002;

// "/proc/loadavg"'s three averages and the number of processors, for the heading of a figure.
QString LoadText();

// A UDP port on address that nobody holds at the moment of asking.
std::uint16_t FreeUdpPort(const QString& address);

double Median(std::vector<double> values);
double Worst(const std::vector<double>& values);

// Many loopback NTP servers on one port, one address each, answering from a thread of their own
// with plain sockets, so that the thread under measurement does only the client's work. Stops by
// itself after lifetime, or when destroyed.
class ResponderFarm
{
public:
    ResponderFarm();
    ~ResponderFarm();
    ResponderFarm(const ResponderFarm&) = delete;
    ResponderFarm& operator=(const ResponderFarm&) = delete;

    // Binds count servers at LoopbackAddress(first, 0 ... count-1), all on port (0: the first
    // gets one from the system and the others share it) and starts answering.
    [[nodiscard]] bool start(std::uint32_t first, int count, std::uint16_t port, QString* whyNot,
                             std::chrono::seconds lifetime = std::chrono::seconds(300));
    void stop();

    std::uint16_t port() const { return m_port; }
    int count() const { return static_cast<int>(m_sockets.size()); }
    int requestCount() const { return m_requests.load(); }
    // When the first request since start() or the last resetFirstRequest() came in.
    std::optional<SteadyClock::time_point> firstRequestAt() const;
    void resetFirstRequest() { m_firstRequestNs.store(-1); }

    // Set before start(): seconds added to the servers' clock, and a call made (on the farm's
    // thread) when the first request comes in.
    double offsetSeconds = 0.0;
    std::function<void()> onFirstRequest;

private:
    void run(SteadyClock::time_point deadline);
    void closeAll();

    std::vector<int> m_sockets;
    int m_epoll = -1;
    int m_wake = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<int> m_requests{0};
    std::atomic<long long> m_firstRequestNs{-1};
};

// One run of another program, waited for (at most timeoutMs, then killed).
struct ProgramRun
{
    bool started = false;
    bool finished = false;
    int exitCode = -1;
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0; // user + system of the child
    long peakResidentKiB = 0;
    SteadyClock::time_point startedAt{};
    QByteArray output; // stdout and stderr together
};
ProgramRun RunProgram(const QString& program, const QStringList& arguments, int timeoutMs);

// Whether this process may bind port 123.
bool MayBindPrivilegedPorts();

} // namespace ostrelle
