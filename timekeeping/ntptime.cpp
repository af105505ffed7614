#include "timekeeping/ntptime.h"

#include "platform/clock.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <cmath>

namespace ostrelle {

namespace {

constexpr std::int64_t SecondsPerDay = 86400;

constexpr std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Leap days in the years 1 .. year - 1 of the Gregorian calendar.
constexpr std::int64_t leapDaysBefore(std::int64_t year)
{
    const std::int64_t y = year - 1;
    return floorDiv(y, 4) - floorDiv(y, 100) + floorDiv(y, 400);
}

// Days from 1900-01-01 to the first of January of the year; negative before 1900.
constexpr std::int64_t daysBeforeYear(std::int64_t year)
{
    return 365 * (year - 1900) + leapDaysBefore(year) - leapDaysBefore(1900);
}

// The last second that has a calendar form: 9999-12-31 23:59:59, past which QDate's short
// date texts and the 16-bit year of SYSTEMTIME stop being meaningful.
constexpr std::int64_t LastCalendarSecond = daysBeforeYear(10000) * SecondsPerDay - 1;
static_assert(LastCalendarSecond == 255611289599);

double roundHalfToEven(double x)
{
    const double below = std::floor(x);
    const double fraction = x - below; // exact for every finite double
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

bool isZoneLetter(QChar c)
{
    return c == u't';
}

bool isLooseEnd(QChar c)
{
    return c.isSpace() || c == u',' || c == u'(' || c == u')' || c == u'[' || c == u']';
}

// The locale's long time pattern without its time-zone name: nothing here is local time, so a
// zone name would be wrong. The separators and brackets the zone leaves behind go with it.
QString timePatternWithoutZone(const QLocale& locale)
{
    const QString pattern = locale.timeFormat(QLocale::LongFormat);
    QString kept;
    kept.reserve(pattern.size());
    bool quoted = false;
    for (const QChar c : pattern) {
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c == u'\'' || !isZoneLetter(c))
            kept.append(c);
    }
    qsizetype first = 0;
    qsizetype end = kept.size();
    while (first < end && isLooseEnd(kept.at(first)))
        ++first;
    while (end > first && isLooseEnd(kept.at(end - 1)))
        --end;
    return kept.mid(first, end - first);
}

} // namespace

const std::array<std::int16_t, 13> MonthDays = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsLeapYear(int year)
{
    if (year % 400 == 0)
        return true;
    if (year % 100 == 0)
        return false;
    return year % 4 == 0;
}

int DaysInMonth(int year, int month)
{
    if (month == 2)
        return IsLeapYear(year) ? 29 : 28;
    return MonthDays.at(static_cast<std::size_t>(month));
}

double NowNtpSeconds(const Clock& clock)
{
    const SYSTEMTIME now = clock.utcNow();
    std::int64_t days = daysBeforeYear(now.wYear);
    for (int month = 1; month < now.wMonth && month <= 12; ++month)
        days += DaysInMonth(now.wYear, month);
    days += now.wDay - 1;

    // Every term but the milliseconds is a whole number, so only the last addition can round.
    double t = static_cast<double>(days * SecondsPerDay);
    t += static_cast<double>(now.wHour * 3600);
    t += static_cast<double>(now.wMinute * 60);
    t += static_cast<double>(now.wSecond);
    t += static_cast<double>(now.wMilliseconds) / 1000.0;
    return t;
}

double NtpTimestampToSeconds(std::span<const std::uint8_t, 8> bytes)
{
    double t = 0.0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        t += std::ldexp(static_cast<double>(bytes[i]), 24 - 8 * static_cast<int>(i));
    return t;
}

std::array<std::uint8_t, 8> SecondsToNtpTimestamp(double t)
{
    std::array<std::uint8_t, 8> bytes{};
    if (!std::isfinite(t))
        return bytes;
    // The wire holds only the seconds within an era; from 2036-02-07 on the reading is in era 1.
    double rest = std::fmod(t, NtpEraLength);
    if (rest < 0.0)
        rest += NtpEraLength;
    if (rest >= NtpEraLength) // a tiny negative value rounded up to a whole era
        rest = 0.0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const double unit = std::ldexp(1.0, 24 - 8 * static_cast<int>(i));
        const double byte = std::floor(rest / unit);
        bytes[i] = static_cast<std::uint8_t>(byte);
        rest -= byte * unit;
    }
    return bytes;
}

double PlaceInNearestEra(double eraSeconds, double reference)
{
    if (!std::isfinite(eraSeconds) || !std::isfinite(reference))
        return eraSeconds;
    const double eras = std::floor((reference - eraSeconds) / NtpEraLength + 0.5);
    return eraSeconds + eras * NtpEraLength;
}

std::optional<CalendarTime> NtpSecondsToDateTime(double t, Rounding mode)
{
    if (!std::isfinite(t))
        return std::nullopt;
    // Rounded before the 1990 base is taken off, so that the subtraction is exact; the base is
    // even, so ties still go to the even second.
    const double whole = mode == Rounding::Floor ? std::floor(t) : roundHalfToEven(t);
    if (!(whole >= 0.0 && whole <= static_cast<double>(LastCalendarSecond)))
        return std::nullopt;

    const std::int64_t sinceBase =
        static_cast<std::int64_t>(whole) - static_cast<std::int64_t>(NtpSecondsAt1990);
    const std::int64_t days = floorDiv(sinceBase, SecondsPerDay);
    const std::int64_t secondOfDay = sinceBase - days * SecondsPerDay;
    const QDate date = QDate(1990, 1, 1).addDays(days);

    CalendarTime result;
    result.year = date.year();
    result.month = date.month();
    result.day = date.day();
    result.hour = static_cast<int>(secondOfDay / 3600);
    result.minute = static_cast<int>(secondOfDay / 60 % 60);
    result.second = static_cast<int>(secondOfDay % 60);
    return result;
}

QString DateTimeText(const CalendarTime& time, const QLocale& locale)
{
    const QString date = locale.toString(QDate(time.year, time.month, time.day), QLocale::ShortFormat);
    if (time.hour == 0 && time.minute == 0 && time.second == 0)
        return date;
    const QTime clockTime(time.hour, time.minute, time.second);
    return date + u' ' + locale.toString(clockTime, timePatternWithoutZone(locale));
}

QString DateTimeText(const CalendarTime& time)
{
    return DateTimeText(time, QLocale());
}

} // namespace ostrelle
