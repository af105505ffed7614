#include "platform/fakes/fakeclock.h"

namespace ostrelle {

FakeClock::FakeClock(const QDateTime& startUtc)
{
    setNow(startUtc);
}

void FakeClock::setNow(const QDateTime& utc)
{
    m_now = TimePoint(std::chrono::milliseconds(utc.toMSecsSinceEpoch()));
}

QDateTime FakeClock::nowDateTime() const
{
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(m_now).time_since_epoch().count();
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
}

bool FakeClock::setUtc(TimePoint time)
{
    setCalls.append(time);
    if (refuseSet)
        return false;
    m_now = time;
    return true;
}

} // namespace ostrelle
