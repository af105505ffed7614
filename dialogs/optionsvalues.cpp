#include "dialogs/optionsvalues.h"

#include "timekeeping/ntptime.h"

#include <algorithm>

namespace ostrelle {

int RoundedMinutes(int seconds)
{
    // A half minute divides exactly, so the tie is seen as one.
    return static_cast<int>(RoundHalfToEven(seconds / 60.0));
}

int SliderPosition(int value, const SettingRange& range)
{
    return std::clamp(value, range.minimum, range.maximum);
}

QString MinutesText(int seconds)
{
    const QString unit = QStringLiteral(" mins");
    if (seconds % 60 == 0)
        return NumberText(seconds / 60) + unit;
    QString digits = QString::number(seconds / 60.0, 'f', 2);
    while (digits.endsWith(QLatin1Char('0')))
        digits.chop(1);
    if (digits.endsWith(QLatin1Char('.')))
        digits.chop(1);
    if (!digits.startsWith(QLatin1Char('-')))
        digits.prepend(QLatin1Char(' '));
    return digits + unit;
}

} // namespace ostrelle
