#include "timekeeping/ntptime.h"

#include "platform/clock.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <algorithm>
#include <cmath>

namespace ostrelle {

namespace {

using namespace std::chrono;

// The last second with a calendar form: past it QDate's short date texts stop being meaningful.
constexpr double LastCalendarSecond =
    duration_cast<seconds>(sys_days{year{10000} / January / 1} - sys_days{year{1900} / January / 1}).count() -
    1.0;
static_assert(LastCalendarSecond == 255611289599.0);

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
        if (quoted || c == u'\'' || c != u't')
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

// The last second the clock's time point can hold (its nanoseconds run out in 2262).
const double LastClockSecond =
    static_cast<double>((floor<seconds>(UtcTime::max()).time_since_epoch() + NtpEpochOffset).count()) - 1.0;

bool hasCalendarForm(double whole)
{
    return whole >= 0.0 && whole <= LastCalendarSecond;
}

} // namespace

double RoundHalfToEven(double x)
{
    const double below = std::floor(x);
    const double fraction = x - below; // exact for every finite double
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

double ToNtpSeconds(UtcTime time)
{
    const auto whole = floor<seconds>(time);
    const auto fraction = duration_cast<nanoseconds>(time - whole);
    // The whole seconds are exact in a double; only the last addition can round.
    return static_cast<double>((whole.time_since_epoch() + NtpEpochOffset).count()) +
           static_cast<double>(fraction.count()) / 1e9;
}

std::optional<UtcTime> UtcTimeFromNtpSeconds(double t)
{
    if (!std::isfinite(t))
        return std::nullopt;
    // The second and the nanoseconds both come from this one floor, so the time never runs
    // ahead of t, even where subtracting the 1970 offset from t itself would round.
    const double whole = std::floor(t);
    if (!hasCalendarForm(whole) || whole > LastClockSecond)
        return std::nullopt;
    const double fraction = std::min(std::floor((t - whole) * 1e9), 999999999.0);
    return UtcTime(seconds(static_cast<std::int64_t>(whole)) - NtpEpochOffset) +
           duration_cast<UtcTime::duration>(nanoseconds(static_cast<std::int64_t>(fraction)));
}

double NowNtpSeconds(const Clock& clock)
{
    return ToNtpSeconds(clock.now());
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

QString DateTimeText(double t, const QLocale& locale)
{
    if (!std::isfinite(t))
        return {};
    const double whole = RoundHalfToEven(t);
    if (!hasCalendarForm(whole))
        return {};
    const QDateTime utc =
        QDateTime::fromSecsSinceEpoch(static_cast<qint64>(whole) - NtpEpochOffset.count(), QTimeZone::utc());
    const QString date = locale.toString(utc.date(), QLocale::ShortFormat);
    if (utc.time() == QTime(0, 0))
        return date;
    return date + u' ' + locale.toString(utc.time(), timePatternWithoutZone(locale));
}

QString DateTimeText(double t)
{
    return DateTimeText(t, QLocale());
}

QString IsoUtcText(std::chrono::sys_time<std::chrono::nanoseconds> time, int fractionDigits)
{
    const auto whole = std::chrono::floor<std::chrono::seconds>(time);
    QString text = QDateTime::fromSecsSinceEpoch(whole.time_since_epoch().count(), QTimeZone::utc())
                       .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (fractionDigits > 0) {
        const qint64 nanoseconds = (time - whole).count();
        text +=
            QLatin1Char('.') +
            QStringLiteral("%1").arg(nanoseconds, 9, 10, QLatin1Char('0')).left(std::min(fractionDigits, 9));
    }
    return text + QLatin1Char('Z');
}

} // namespace ostrelle
