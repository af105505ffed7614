#include "platform/fakes/fakeclock.h"

namespace ostrelle {

FakeClock::FakeClock(const QDateTime& startUtc) : m_now(startUtc.toUTC()) {}

SYSTEMTIME FakeClock::utcNow() const
{
    const QDate d = m_now.date();
    const QTime t = m_now.time();
    SYSTEMTIME st;
    st.wYear = static_cast<std::uint16_t>(d.year());
    st.wMonth = static_cast<std::uint16_t>(d.month());
    st.wDayOfWeek = static_cast<std::uint16_t>(d.dayOfWeek() % 7);
    st.wDay = static_cast<std::uint16_t>(d.day());
    st.wHour = static_cast<std::uint16_t>(t.hour());
    st.wMinute = static_cast<std::uint16_t>(t.minute());
    st.wSecond = static_cast<std::uint16_t>(t.second());
    st.wMilliseconds = static_cast<std::uint16_t>(t.msec());
    return st;
}

bool FakeClock::setUtc(const SYSTEMTIME& time)
{
    setCalls.append(time);
    if (refuseSet)
        return false;
    const QDateTime to(QDate(time.wYear, time.wMonth, time.wDay),
                       QTime(time.wHour, time.wMinute, time.wSecond, time.wMilliseconds), Qt::UTC);
    if (!to.isValid())
        return false;
    m_now = to;
    return true;
}

} // namespace ostrelle
