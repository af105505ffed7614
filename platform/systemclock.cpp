#include "platform/systemclock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace ostrelle {

#ifdef _WIN32

SYSTEMTIME SystemClock::utcNow() const
{
    ::SYSTEMTIME w;
    ::GetSystemTime(&w);
    return {w.wYear, w.wMonth, w.wDayOfWeek, w.wDay, w.wHour, w.wMinute, w.wSecond, w.wMilliseconds};
}

bool SystemClock::setUtc(const SYSTEMTIME& t)
{
    const ::SYSTEMTIME w{t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
    return ::SetSystemTime(&w) != 0;
}

#else

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
long long daysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

} // namespace

SYSTEMTIME SystemClock::utcNow() const
{
    timespec ts{};
    tm parts{};
    if (::clock_gettime(CLOCK_REALTIME, &ts) != 0)
        return {};
    // Rounded, not cut, to the millisecond: both ends of an exchange are read this way, and cut
    // readings would bias every offset by half a millisecond.
    const long long ms = static_cast<long long>(ts.tv_sec) * 1000 + (ts.tv_nsec + 500000) / 1000000;
    const time_t seconds = static_cast<time_t>(ms / 1000);
    if (::gmtime_r(&seconds, &parts) == nullptr)
        return {};
    SYSTEMTIME st;
    st.wYear = static_cast<std::uint16_t>(parts.tm_year + 1900);
    st.wMonth = static_cast<std::uint16_t>(parts.tm_mon + 1);
    st.wDayOfWeek = static_cast<std::uint16_t>(parts.tm_wday);
    st.wDay = static_cast<std::uint16_t>(parts.tm_mday);
    st.wHour = static_cast<std::uint16_t>(parts.tm_hour);
    st.wMinute = static_cast<std::uint16_t>(parts.tm_min);
    st.wSecond = static_cast<std::uint16_t>(parts.tm_sec);
    st.wMilliseconds = static_cast<std::uint16_t>(ms % 1000);
    return st;
}

bool SystemClock::setUtc(const SYSTEMTIME& t)
{
    // A malformed record (31 February) would otherwise be carried into the next month and set.
    static constexpr unsigned monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.wMonth < 1 || t.wMonth > 12 || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59
        || t.wMilliseconds > 999)
        return false;
    const bool leap = (t.wYear % 4 == 0 && t.wYear % 100 != 0) || t.wYear % 400 == 0;
    const unsigned lastDay = monthDays[t.wMonth - 1] + (t.wMonth == 2 && leap ? 1 : 0);
    if (t.wDay < 1 || t.wDay > lastDay)
        return false;
    const long long days = daysFromCivil(t.wYear, t.wMonth, t.wDay);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(days * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond);
    ts.tv_nsec = static_cast<long>(t.wMilliseconds) * 1000000L;
    return ::clock_settime(CLOCK_REALTIME, &ts) == 0;
}

#endif

} // namespace ostrelle
