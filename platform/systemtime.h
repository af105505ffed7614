#pragma once

#include <cstdint>

namespace ostrelle {

// The UTC calendar record the clock is read and set through. Day of the week: 0 = Sunday;
// it is ignored when the clock is set.
struct SYSTEMTIME
{
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0; // 1-12
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0; // 1-31
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0; // 0-999

    bool operator==(const SYSTEMTIME&) const = default;
};

} // namespace ostrelle
