#pragma once

namespace ostrelle {

class Clock;

// Steps the clock to NtpSeconds t, cut to the nanosecond; true when it was set, false when the
// platform refused or t has no calendar form (the clock is then left alone).
[[nodiscard]] bool SetSystemClock(double t, Clock& clock);

} // namespace ostrelle
