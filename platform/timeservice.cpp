#include "platform/timeservice.h"

#include "platform/clockstepper.h"

#include <QCoreApplication>
#include <QtGlobal>

#if defined(_WIN32)
#include "platform/windowstimeservice.h"
#elif defined(__linux__)
#include "platform/timedatedclock.h"
#endif

namespace ostrelle {

namespace {

class NoTimeService final : public TimeService
{
public:
    TimeServiceState state() const override { return {}; }
};

} // namespace

void TimeService::setAutomaticSync(bool on, QObject* context, Done done)
{
    Q_UNUSED(on);
    Q_UNUSED(context);
    done(false, QStringLiteral("The time service cannot be switched from here"));
}

QString TimeServiceNote(const TimeServiceState& state)
{
    if (state.keepsClock)
        return state.synchronised
                   ? QStringLiteral("Another time service keeps this clock, and has synchronised it.")
                   : QStringLiteral("Another time service keeps this clock; it has not synchronised it yet.");
    if (!state.mayUndoStep())
        return {};
    const QString how = state.syncType.isEmpty()
                            ? QStringLiteral("synchronises the clock")
                            : QStringLiteral("synchronises the clock (type %1)").arg(state.syncType);
    return QStringLiteral("%1 is running and %2; it may undo a change made here.").arg(state.name, how);
}

QString TimeServiceHeadline(const TimeServiceState& state)
{
    if (state.keepsClock)
        return QStringLiteral("Another time service keeps this clock");
    if (state.mayUndoStep())
        return QStringLiteral("%1 may undo a change made here").arg(state.name);
    return {};
}

std::unique_ptr<TimeService> CreateTimeService()
{
#if defined(_WIN32)
    return std::make_unique<WindowsTimeService>(QCoreApplication::applicationFilePath());
#elif defined(__linux__)
    if (MaySetClockDirectly())
        return std::make_unique<NoTimeService>();
    return std::make_unique<TimedatedTimeService>(QDBusConnection::systemBus());
#else
    return std::make_unique<NoTimeService>();
#endif
}

} // namespace ostrelle
