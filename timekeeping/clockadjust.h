#pragma once

#include "platform/systemtime.h"

#include <optional>

namespace ostrelle {

class Clock;
class MessageDialog;

// The record handed to the clock for NtpSeconds t: floor of the second, milliseconds truncated,
// day of the week 0. No value when t has no calendar form.
std::optional<SYSTEMTIME> SystemTimeFor(double t);

// Sets the clock to NtpSeconds t; true when it was set. On refusal (or a t with no calendar form)
// shows "Unable to set system time." and leaves the clock alone.
[[nodiscard]] bool SetSystemClock(double t, Clock& clock, MessageDialog& messages);

} // namespace ostrelle
