#include "platform/systemclock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace ostrelle {

using namespace std::chrono;

system_clock::time_point SystemClock::now() const
{
    return system_clock::now();
}

#ifdef _WIN32

bool SystemClock::setUtc(system_clock::time_point time)
{
    // FILETIME counts 100 ns units from 1601-01-01.
    constexpr seconds from1601To1970{11644473600};
    const auto units =
        duration_cast<duration<long long, std::ratio<1, 10000000>>>(time.time_since_epoch() + from1601To1970);
    ULARGE_INTEGER value;
    value.QuadPart = static_cast<ULONGLONG>(units.count());
    const FILETIME file{value.LowPart, value.HighPart};
    ::SYSTEMTIME parts;
    return ::FileTimeToSystemTime(&file, &parts) && ::SetSystemTime(&parts) != 0;
}

#else

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
