#include "platform/systemclock.h"

#ifdef _WIN32
#include "platform/winsupport.h"
#else
#include <ctime>
#endif

namespace ostrelle {

using namespace std::chrono;

#ifdef _WIN32

system_clock::time_point SystemClock::now() const
{
    FILETIME time;
    ::GetSystemTimePreciseAsFileTime(&time);
    return FromFileTime(time);
}

nanoseconds SystemClock::resolution() const
{
    // FILETIME's unit.
    return nanoseconds(100);
}

bool SystemClock::setUtc(system_clock::time_point time)
{
    const FILETIME file = ToFileTime(time);
    ::SYSTEMTIME parts;
    return ::FileTimeToSystemTime(&file, &parts) && ::SetSystemTime(&parts) != 0;
}

#else

system_clock::time_point SystemClock::now() const
{
    return system_clock::now();
}

nanoseconds SystemClock::resolution() const
{
    return nanoseconds(1);
}

bool SystemClock::setUtc(system_clock::time_point time)
{
    const auto whole = floor<seconds>(time);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(whole.time_since_epoch().count());
    ts.tv_nsec = static_cast<long>(duration_cast<nanoseconds>(time - whole).count());
    return ::clock_settime(CLOCK_REALTIME, &ts) == 0;
}

#endif

} // namespace ostrelle
