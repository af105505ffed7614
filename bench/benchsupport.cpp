#include "bench/benchsupport.h"

#include "tests/support/ntpresponder.h"
#include "timekeeping/ntptime.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ostrelle {

namespace {

constexpr double UnixEpochInNtpSeconds = 2208988800.0;

double cpuOf(const rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long statusFieldKiB(long pid, const char* field)
{
    QFile file(pid == 0 ? QStringLiteral("/proc/self/status") : QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray name(field);
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

sockaddr_in loopbackSockaddr(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

double PreciseNtpNow()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return UnixEpochInNtpSeconds + static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double SecondsBetween(SteadyClock::time_point from, SteadyClock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

double ThreadCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return cpuOf(usage);
}

double ProcessCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return cpuOf(usage);
}

long ResidentKiB(long pid)
{
    return statusFieldKiB(pid, "VmRSS:");
}

long PeakResidentKiB(long pid)
{
    return statusFieldKiB(pid, "VmHWM:");
}

double ProcessCpuSecondsOf(long pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1.0;
    const QByteArray stat = file.readAll();
    // The command name may hold blanks and parentheses; the fields after the last ')' do not.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
    if (fields.size() < 13)
        return -1.0;
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    return static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong()) / ticks;
}

QString LoopbackAddress(std::uint32_t first, int i)
{
    const std::uint32_t a = first + static_cast<std::uint32_t>(i);
    return QStringLiteral("%1.%2.%3.%4")
        .arg(a >> 24)
        .arg((a >> 16) & 0xff)
        .arg((a >> 8) & 0xff)
        .arg(a & 0xff);
}

QString LoadText()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    const QList<QByteArray> fields =
        file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QList<QByteArray>();
    return QStringLiteral("load average %1 %2 %3 on %4 processors")
        .arg(QString::fromLatin1(fields.value(0, "?")), QString::fromLatin1(fields.value(1, "?")),
             QString::fromLatin1(fields.value(2, "?")))
        .arg(std::thread::hardware_concurrency());
}

std::uint16_t FreeUdpPort(const QString& address)
{
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &parsed) != 1)
        return 0;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in sa = loopbackSockaddr(ntohl(parsed.s_addr), 0);
    socklen_t length = sizeof sa;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) == 0)
        port = ntohs(sa.sin_port);
    ::close(fd);
    return port;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

double Worst(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// ---------------------------------------------------------------------------------------------

ResponderFarm::ResponderFarm() = default;

ResponderFarm::~ResponderFarm()
{
    stop();
}

bool ResponderFarm::start(std::uint32_t first, int count, std::uint16_t port, QString* whyNot,
                          std::chrono::seconds lifetime)
{
    stop();
    m_requests = 0;
    m_firstRequestNs = -1;
    m_port = port;
    const auto fail = [&](const QString& why) {
        if (whyNot)
            *whyNot = why;
        closeAll();
        return false;
    };
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll < 0 || m_wake < 0)
        return fail(QStringLiteral("epoll/eventfd: ") + errnoText());
    epoll_event wakeEvent{};
    wakeEvent.events = EPOLLIN;
    wakeEvent.data.fd = m_wake;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &wakeEvent);

    m_sockets.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return fail(QStringLiteral("socket %1: %2").arg(i).arg(errnoText()));
        m_sockets.push_back(fd);
        // The kernel's arrival stamp is the receive time: a late thread must not look like a path delay.
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        const sockaddr_in sa = loopbackSockaddr(first + static_cast<std::uint32_t>(i), m_port);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
            return fail(
                QStringLiteral("bind %1:%2: %3").arg(LoopbackAddress(first, i)).arg(m_port).arg(errnoText()));
        if (m_port == 0) {
            sockaddr_in bound{};
            socklen_t length = sizeof bound;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
            m_port = ntohs(bound.sin_port);
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
            return fail(QStringLiteral("epoll_ctl: ") + errnoText());
    }
    m_thread = std::thread([this, deadline = SteadyClock::now() + lifetime] { run(deadline); });
    return true;
}

void ResponderFarm::stop()
{
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        if (::write(m_wake, &one, sizeof one) < 0) {
            // The thread still ends at its deadline.
        }
        m_thread.join();
    }
    closeAll();
}

void ResponderFarm::closeAll()
{
    for (const int fd : m_sockets)
        ::close(fd);
    m_sockets.clear();
    if (m_epoll >= 0)
        ::close(m_epoll);
    if (m_wake >= 0)
        ::close(m_wake);
    m_epoll = m_wake = -1;
}

std::optional<SteadyClock::time_point> ResponderFarm::firstRequestAt() const
{
    const long long ns = m_firstRequestNs.load();
    if (ns < 0)
        return std::nullopt;
    return SteadyClock::time_point(
        std::chrono::duration_cast<SteadyClock::duration>(std::chrono::nanoseconds(ns)));
}

void ResponderFarm::run(SteadyClock::time_point deadline)
{
    NtpReplyFields fields;
    fields.offset = offsetSeconds;
    std::array<epoll_event, 64> events{};
    std::array<char, 2048> buffer{};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0)
            return;
        const int n = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()),
                                   static_cast<int>(std::min<long long>(left.count(), 60000)));
        for (int e = 0; e < n; ++e) {
            const int fd = events[static_cast<std::size_t>(e)].data.fd;
            if (fd == m_wake)
                return;
            for (;;) {
                sockaddr_in peer{};
                iovec part{buffer.data(), buffer.size()};
                alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
                msghdr message{};
                message.msg_name = &peer;
                message.msg_namelen = sizeof peer;
                message.msg_iov = &part;
                message.msg_iovlen = 1;
                message.msg_control = control;
                message.msg_controllen = sizeof control;
                const ssize_t size = ::recvmsg(fd, &message, 0);
                if (size < 0)
                    break;
                const socklen_t peerLength = message.msg_namelen;
                double now = PreciseNtpNow();
                double received = now;
                for (cmsghdr* h = CMSG_FIRSTHDR(&message); h; h = CMSG_NXTHDR(&message, h)) {
                    if (h->cmsg_level == SOL_SOCKET && h->cmsg_type == SCM_TIMESTAMPNS) {
                        timespec stamp{};
                        std::memcpy(&stamp, CMSG_DATA(h), sizeof stamp);
                        received = UnixEpochInNtpSeconds + static_cast<double>(stamp.tv_sec) +
                                   static_cast<double>(stamp.tv_nsec) / 1e9;
                    }
                }
                long long expected = -1;
                const long long at = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         SteadyClock::now().time_since_epoch())
                                         .count();
                const bool first = m_firstRequestNs.compare_exchange_strong(expected, at);
                ++m_requests;
                // The transmit time is read last, just before the reply is built and sent.
                now = PreciseNtpNow();
                fields.holdTime = now - received;
                const QByteArray reply =
                    BuildNtpReply(QByteArray::fromRawData(buffer.data(), size), fields, received);
                ::sendto(fd, reply.constData(), static_cast<std::size_t>(reply.size()), 0,
                         reinterpret_cast<const sockaddr*>(&peer), peerLength);
                if (first && onFirstRequest)
                    onFirstRequest();
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------

ProgramRun RunProgram(const QString& program, const QStringList& arguments, int timeoutMs)
{
    ProgramRun run;
    char outputPath[] = "/tmp/ostrelle-bench-output-XXXXXX";
    const int outputFd = ::mkstemp(outputPath);
    if (outputFd < 0)
        return run;
    ::unlink(outputPath);

    std::vector<QByteArray> storage;
    storage.push_back(program.toLocal8Bit());
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 2);
    pid_t pid = -1;
    run.startedAt = SteadyClock::now();
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ::close(outputFd);
        return run;
    }
    run.started = true;

    // wait4 blocks; a helper thread waits so that this one can give up after timeoutMs.
    std::mutex mutex;
    std::condition_variable done;
    bool reaped = false;
    int status = 0;
    rusage usage{};
    SteadyClock::time_point endedAt{};
    std::thread waiter([&] {
        int s = 0;
        rusage u{};
        while (::wait4(pid, &s, 0, &u) < 0 && errno == EINTR) {
        }
        const auto at = SteadyClock::now();
        std::lock_guard lock(mutex);
        status = s;
        usage = u;
        endedAt = at;
        reaped = true;
        done.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return reaped; })) {
            ::kill(pid, SIGKILL);
            done.wait(lock, [&] { return reaped; });
        } else {
            run.finished = true;
        }
    }
    waiter.join();
    run.wallSeconds = SecondsBetween(run.startedAt, endedAt);
    run.cpuSeconds = cpuOf(usage);
    run.peakResidentKiB = usage.ru_maxrss;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    ::lseek(outputFd, 0, SEEK_SET);
    std::array<char, 4096> chunk{};
    for (ssize_t n; (n = ::read(outputFd, chunk.data(), chunk.size())) > 0;)
        run.output.append(chunk.data(), n);
    ::close(outputFd);
    return run;
}

bool MayBindPrivilegedPorts()
{
    return ::geteuid() == 0;
}

// ---------------------------------------------------------------------------------------------

} // namespace ostrelle
