#pragma once

#include "platform/systemtime.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

class QLocale;

namespace ostrelle {

class Clock;

// NtpSeconds: a double count of seconds since 1900-01-01 00:00:00 UTC (the NTP epoch); the
// fraction is the fraction of a second. Differences of two such values are durations in seconds.

inline constexpr double NtpEraLength = 4294967296.0;   // 2^32 s, one NTP era
inline constexpr double NtpSecondsAt1990 = 2840140800.0; // 1990-01-01 00:00:00 UTC

// A UTC calendar date and time to the whole second.
struct CalendarTime
{
    int year = 0;
    int month = 0; // 1-12
    int day = 0;   // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool operator==(const CalendarTime&) const = default;
};

enum class Rounding { Nearest, Floor };

// Days of each month of a common year, index 1-12; index 0 is unused.
extern const std::array<std::int16_t, 13> MonthDays;

// True for a Gregorian leap year.
bool IsLeapYear(int year);

// Days in the month (1-12) of the year, February worked out from the year.
int DaysInMonth(int year, int month);

// The clock's current UTC time as NtpSeconds, to the millisecond.
double NowNtpSeconds(const Clock& clock);

// NtpSeconds (era 0, 0 <= t < 2^32) of an 8-byte big-endian NTP timestamp; all zero bytes give 0.
double NtpTimestampToSeconds(std::span<const std::uint8_t, 8> bytes);

// The 8-byte big-endian NTP timestamp of NtpSeconds t, taken modulo one era; the fraction is truncated.
std::array<std::uint8_t, 8> SecondsToNtpTimestamp(double t);

// NtpSeconds of an era-0 value moved into the NTP era that puts it nearest to reference (NtpSeconds).
double PlaceInNearestEra(double eraSeconds, double reference);

// The UTC calendar time of NtpSeconds t rounded to a whole second (nearest: ties to even; floor);
// no value when t lies outside 1900-01-01 00:00:00 .. 9999-12-31 23:59:59 or is not finite.
std::optional<CalendarTime> NtpSecondsToDateTime(double t, Rounding mode);

// The locale's short date, a blank and the time as hours, minutes and seconds (no time zone);
// the date alone at exactly 00:00:00.
QString DateTimeText(const CalendarTime& time, const QLocale& locale);
QString DateTimeText(const CalendarTime& time);

} // namespace ostrelle
