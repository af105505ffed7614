#include "platform/clockstepper.h"

#include "platform/directclockstepper.h"

#include <QCoreApplication>

#if defined(_WIN32)
#include "platform/elevatedclockstepper.h"
#include "platform/windowstimeservice.h"
#elif defined(__linux__)
#include "platform/timedatedclock.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace ostrelle {

void ClockStepper::step(std::chrono::nanoseconds offset)
{
    if (m_declined) {
        finish(false, QStringLiteral("Setting the clock was not authorised"), true);
        return;
    }
    if (busy()) {
        finish(false, QStringLiteral("An earlier change of the clock is still waiting for an answer"), false);
        return;
    }
    startStep(offset);
}

void ClockStepper::finish(bool ok, const QString& reason, bool cancelled)
{
    if (cancelled)
        m_declined = true;
    emit finished(ok, reason, cancelled);
}

bool MaySetClockDirectly()
{
#if defined(_WIN32)
    return ProcessHoldsTimePrivilege();
#elif defined(__linux__)
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return ::geteuid() == 0;
    return (data[CAP_SYS_TIME / 32].effective & (1u << (CAP_SYS_TIME % 32))) != 0;
#else
    return true;
#endif
}

std::unique_ptr<ClockStepper> CreateClockStepper(Clock& clock)
{
    if (MaySetClockDirectly())
        return std::make_unique<DirectClockStepper>(clock);
#if defined(_WIN32)
    return std::make_unique<ElevatedClockStepper>(
        ElevatedClockStepper::RunasLauncher(QCoreApplication::applicationFilePath()));
#elif defined(__linux__)
    return std::make_unique<TimedatedClockStepper>(QDBusConnection::systemBus());
#else
    return std::make_unique<DirectClockStepper>(clock);
#endif
}

std::optional<int> RunClockStepRequest(const QStringList& arguments)
{
#if defined(_WIN32)
    if (std::optional<int> status = ElevatedClockStepper::RunStepRequest(arguments))
        return status;
    return WindowsTimeService::RunSwitchRequest(arguments);
#else
    Q_UNUSED(arguments);
    return std::nullopt;
#endif
}

} // namespace ostrelle
