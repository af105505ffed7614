#include "platform/systemclock.h"
#include "tests/support/testsystem.h"

#include <QDateTime>
#include <QTest>
#include <QTimeZone>

#ifdef __linux__
#include <grp.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <windows.h>
#endif

using namespace ostrelle;

namespace {

#ifdef __linux__

enum ChildExit : int { Refused = 0, WasSet = 1, StillPrivileged = 77 };

// Runs in the forked child only. It touches the real clock only after proving that it cannot
// change it: not root (65534 is the user nobody), and CAP_SYS_TIME absent from its effective set.
[[noreturn]] void tryToSetClockWithoutPrivilege()
{
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                             ::setresuid(65534, 65534, 65534) != 0))
        ::_exit(StillPrivileged);
    // A non-root process may still have been given the capability (file or ambient
    // capabilities); give it up if so, then check.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
    ::syscall(SYS_capset, &header, caps);
    if (::geteuid() == 0 || ::syscall(SYS_capget, &header, caps) != 0 ||
        (caps[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME)) != 0)
        ::_exit(StillPrivileged);

    SystemClock clock;
    ::_exit(clock.setUtc(clock.now()) ? WasSet : Refused);
}

#endif

} // namespace

class SystemClockTest : public QObject
{
    Q_OBJECT

private slots:
    // A zone far from UTC, so that a reading in local time shows up.
    void initTestCase() { qputenv("TZ", "Pacific/Kiritimati"); }

    void shouldReadSameUtcTimeAsQtToTheNanosecond()
    {
        using namespace std::chrono;
        // Bracketed by Qt's readings of the same clock: a check of the field mapping, not of speed.
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const auto t = SystemClock().now();
        const QDateTime after = QDateTime::currentDateTimeUtc();
        const QDateTime read = QDateTime::fromMSecsSinceEpoch(
            floor<milliseconds>(t.time_since_epoch()).count(), QTimeZone::utc());
        QVERIFY(before <= read && read <= after);
        // A reading cut or rounded to the millisecond would put the exchange's error back.
        int fine = 0;
        for (int i = 0; i < 8; ++i) {
            if (SystemClock().now().time_since_epoch() % milliseconds(1) != nanoseconds(0))
                ++fine;
        }
        QVERIFY2(fine > 0, "every reading fell on a whole millisecond");
    }

    void shouldReportRefusalWhenProcessLacksTimePrivilege()
    {
#ifdef __linux__
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0)
            tryToSetClockWithoutPrivilege();
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        if (WEXITSTATUS(status) == StillPrivileged)
            QSKIP("could not give up the right to set the clock");
        QCOMPARE(WEXITSTATUS(status), int(Refused));
#elif defined(Q_OS_WIN)
        if (MayMoveRealClock())
            QSKIP("this process could move the real clock: run it without the time privilege (under Wine: "
                  "setpriv --bounding-set=-sys_time)");
        // Two seconds: Wine takes a step of under half a second as made without making it.
        SystemClock clock;
        QVERIFY(!clock.setUtc(clock.now() + std::chrono::seconds(2)));
        // Wine answers a refusal from Linux with its own code; only Windows's is pinned.
        const DWORD error = ::GetLastError();
        QVERIFY2(error != ERROR_SUCCESS, "refused without a reason");
        if (!RunningUnderWine())
            QCOMPARE(error, DWORD(ERROR_PRIVILEGE_NOT_HELD));
#else
        QSKIP("needs fork and Linux capabilities");
#endif
    }
};

QTEST_GUILESS_MAIN(SystemClockTest)
#include "test_systemclock.moc"
