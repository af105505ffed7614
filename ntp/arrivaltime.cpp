#include "ntp/arrivaltime.h"

#include "platform/clock.h"
#include "timekeeping/ntptime.h"

namespace ostrelle {

double ArrivalNtpSeconds(ReceiveTime kernelTime, double requestSentAt, const Clock& clock)
{
    const double now = NowNtpSeconds(clock);
    if (!kernelTime)
        return now;
    const double stamped = ToNtpSeconds(*kernelTime);
    return stamped >= requestSentAt && stamped <= now ? stamped : now;
}

} // namespace ostrelle
