#include "timekeeping/clockadjust.h"

#include "platform/clock.h"
#include "timekeeping/ntptime.h"

namespace ostrelle {

bool SetSystemClock(double t, Clock& clock)
{
    const std::optional<UtcTime> time = UtcTimeFromNtpSeconds(t);
    return time && clock.setUtc(*time);
}

} // namespace ostrelle
