#pragma once

#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

class QLocale;

namespace ostrelle {

class Clock;

// The one time type of the program: UTC on the system clock's scale, counted from 1970.
using UtcTime = std::chrono::system_clock::time_point;

// NtpSeconds: a double count of seconds since 1900-01-01 00:00:00 UTC (the NTP epoch); the
// fraction is the fraction of a second. Differences of two such values are durations in seconds.
// Until 2036 a double holds such a time to 2^-21 s (0.48 us): an offset or round trip made of four
// of them is off by at most 0.5 us, well below what a loopback exchange itself varies by (a few
// us), so the readings stay doubles; the clock is read, and set, to the nanosecond.

inline constexpr std::chrono::seconds NtpEpochOffset{2208988800}; // 1900-01-01 to 1970-01-01
inline constexpr double NtpEraLength = 4294967296.0;              // 2^32 s, one NTP era

// Halves go to the even neighbour whatever the floating-point rounding mode; the only rounding
// helper of the program (times, stored numbers and minutes all round this way).
double RoundHalfToEven(double x);

// NtpSeconds of a UTC time, exact to the nanosecond within a double's precision.
double ToNtpSeconds(UtcTime time);

// The UTC time of NtpSeconds t, cut to the nanosecond so that it never runs ahead of t; no value
// when t is not finite or lies outside 1900-01-01 00:00:00 .. 2262-04-11 23:47:15 (the last whole
// second a nanosecond time point holds).
std::optional<UtcTime> UtcTimeFromNtpSeconds(double t);

// The clock's current UTC time as NtpSeconds.
double NowNtpSeconds(const Clock& clock);

// NtpSeconds (era 0, 0 <= t < 2^32) of an 8-byte big-endian NTP timestamp; all zero bytes give 0.
double NtpTimestampToSeconds(std::span<const std::uint8_t, 8> bytes);

// The 8-byte big-endian NTP timestamp of NtpSeconds t, taken modulo one era; the fraction is truncated.
std::array<std::uint8_t, 8> SecondsToNtpTimestamp(double t);

// NtpSeconds of an era-0 value moved into the NTP era that puts it nearest to reference (NtpSeconds).
double PlaceInNearestEra(double eraSeconds, double reference);

// NtpSeconds t rounded to the whole second (ties to even) as the locale's short date, a blank and
// the time as hours, minutes and seconds (no time zone); the date alone at exactly 00:00:00.
// Empty when t has no calendar form (see UtcTimeFromNtpSeconds).
QString DateTimeText(double t, const QLocale& locale);
QString DateTimeText(double t);

// time as ISO 8601 in UTC with fractionDigits (0 to 9) decimals of the second, cut rather than
// rounded so that a time never reads later than it was: "2026-03-04T05:06:07.000000089Z" with 9.
QString IsoUtcText(std::chrono::sys_time<std::chrono::nanoseconds> time, int fractionDigits);

} // namespace ostrelle
