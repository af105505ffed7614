#include "platform/timeservice.h"

#ifdef _WIN32
#include "platform/windowstimeservice.h"
#endif

namespace ostrelle {

namespace {

class NoTimeService final : public TimeService
{
public:
    TimeServiceState state() const override { return {}; }
};

} // namespace

QString TimeServiceNote(const TimeServiceState& state)
{
    if (!state.mayUndoStep())
        return {};
    const QString how = state.syncType.isEmpty()
                            ? QStringLiteral("synchronises the clock")
                            : QStringLiteral("synchronises the clock (type %1)").arg(state.syncType);
    return QStringLiteral("%1 is running and %2; it may undo a change made here.").arg(state.name, how);
}

std::unique_ptr<TimeService> CreateTimeService()
{
#ifdef _WIN32
    return std::make_unique<WindowsTimeService>();
#else
    return std::make_unique<NoTimeService>();
#endif
}

} // namespace ostrelle
