#pragma once

#include "platform/udpchannel.h"

namespace ostrelle {

class Clock;

// T4 of an exchange as NtpSeconds: the kernel's receive stamp when there is one and it lies
// between the request's send time requestSentAt (NtpSeconds) and now; otherwise the clock's
// current time. A stamp outside that span means the clock was stepped meanwhile, or that the
// stamp is on another clock than the one T1 came from; either way it would not measure the trip.
double ArrivalNtpSeconds(ReceiveTime kernelTime, double requestSentAt, const Clock& clock);

} // namespace ostrelle
