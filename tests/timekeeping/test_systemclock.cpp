#include "platform/systemclock.h"

#include <QDateTime>
#include <QTest>

#ifdef __linux__
#include <grp.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace ostrelle;

namespace {

#ifdef __linux__

enum ChildExit : int {
    Refused = 0,
    WasSet = 1,
    CannotDropRoot = 77,
    StillHoldsCapSysTime = 78,
    CannotReadCapabilities = 79,
};

constexpr uid_t Nobody = 65534;

bool effectiveCapabilities(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

// Runs in the forked child only. It touches the real clock only after proving that it cannot
// change it: not root, and CAP_SYS_TIME absent from its effective set.
[[noreturn]] void tryToSetClockWithoutPrivilege()
{
    if (::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0 ||
            ::setresuid(Nobody, Nobody, Nobody) != 0)
            ::_exit(CannotDropRoot);
    }
    if (::geteuid() == 0)
        ::_exit(CannotDropRoot);

    // A non-root process may still have been given the capability (file or ambient
    // capabilities); give it up if so, then check.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    ::syscall(SYS_capset, &header, none);

    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
    if (!effectiveCapabilities(caps))
        ::_exit(CannotReadCapabilities);
    if (caps[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME))
        ::_exit(StillHoldsCapSysTime);

    SystemClock clock;
    ::_exit(clock.setUtc(clock.utcNow()) ? WasSet : Refused);
}

#endif

QDateTime dateTimeOf(const SYSTEMTIME& t)
{
    return QDateTime(QDate(t.wYear, t.wMonth, t.wDay), QTime(t.wHour, t.wMinute, t.wSecond, t.wMilliseconds),
                     Qt::UTC);
}

} // namespace

class SystemClockTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadSameUtcTimeAsQt();
    void shouldReportRefusalWhenProcessLacksTimePrivilege();
};

void SystemClockTest::shouldReadSameUtcTimeAsQt()
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const SYSTEMTIME reading = SystemClock().utcNow();
    const QDateTime read = dateTimeOf(reading);

    QVERIFY2(read.isValid(), "the reading is no calendar date");
    QCOMPARE(static_cast<int>(reading.wDayOfWeek), read.date().dayOfWeek() % 7);
    // A sanity check of the field mapping (month, day, time zone), not of speed.
    QVERIFY2(qAbs(before.secsTo(read)) < 5,
             qPrintable(before.toString(Qt::ISODateWithMs) + QStringLiteral(" vs ") +
                        read.toString(Qt::ISODateWithMs)));
}

void SystemClockTest::shouldReportRefusalWhenProcessLacksTimePrivilege()
{
#ifdef __linux__
    const pid_t child = ::fork();
    QVERIFY2(child >= 0, "fork failed");
    if (child == 0)
        tryToSetClockWithoutPrivilege();

    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status), "the child did not exit normally");
    switch (WEXITSTATUS(status)) {
    case Refused:
        break;
    case WasSet:
        QFAIL("setUtc reported success in a process without CAP_SYS_TIME");
    case CannotDropRoot:
        QSKIP("could not switch to an unprivileged user");
    case StillHoldsCapSysTime:
        QSKIP("could not give up CAP_SYS_TIME");
    case CannotReadCapabilities:
        QSKIP("could not read the process capabilities");
    default:
        QFAIL(qPrintable(QStringLiteral("unexpected child exit code %1").arg(WEXITSTATUS(status))));
    }
#else
    QSKIP("needs fork and Linux capabilities");
#endif
}

QTEST_GUILESS_MAIN(SystemClockTest)
#include "test_systemclock.moc"
