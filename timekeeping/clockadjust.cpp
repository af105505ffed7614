#include "timekeeping/clockadjust.h"

#include "platform/clock.h"
#include "platform/messagedialog.h"
#include "timekeeping/ntptime.h"

#include <algorithm>
#include <cmath>

namespace ostrelle {

std::optional<SYSTEMTIME> SystemTimeFor(double t)
{
    if (!std::isfinite(t))
        return std::nullopt;
    const double whole = std::floor(t);
    // The second and the milliseconds both come from this one floor, so the time set never runs
    // ahead of t, even where subtracting the 1990 base from t itself would round.
    const std::optional<CalendarTime> calendar = NtpSecondsToDateTime(whole, Rounding::Floor);
    if (!calendar)
        return std::nullopt;

    SYSTEMTIME time;
    time.wYear = static_cast<std::uint16_t>(calendar->year);
    time.wMonth = static_cast<std::uint16_t>(calendar->month);
    time.wDay = static_cast<std::uint16_t>(calendar->day);
    time.wHour = static_cast<std::uint16_t>(calendar->hour);
    time.wMinute = static_cast<std::uint16_t>(calendar->minute);
    time.wSecond = static_cast<std::uint16_t>(calendar->second);
    const double milliseconds = std::floor((t - whole) * 1000.0);
    time.wMilliseconds = static_cast<std::uint16_t>(std::clamp(milliseconds, 0.0, 999.0));
    return time;
}

bool SetSystemClock(double t, Clock& clock, MessageDialog& messages)
{
    const std::optional<SYSTEMTIME> time = SystemTimeFor(t);
    if (time && clock.setUtc(*time))
        return true;
    messages.show(QStringLiteral("Unable to set system time."), QStringLiteral("Ostrelle"),
                  MessageDialog::Icon::Warning, MessageDialog::Buttons::Ok, MessageDialog::Button::Ok);
    return false;
}

} // namespace ostrelle
