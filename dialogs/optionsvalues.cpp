#include "dialogs/optionsvalues.h"

#include "servers/settingsstore.h"

#include <algorithm>

namespace ostrelle {

long long RoundedMinutes(long long seconds)
{
    // Integer arithmetic: an exact half must be recognised as one.
    long long minutes = seconds / 60;
    long long rest = seconds % 60;
    if (rest < 0) {
        minutes -= 1;
        rest += 60;
    }
    if (rest > 30 || (rest == 30 && minutes % 2 != 0))
        minutes += 1;
    return minutes;
}

int SliderPosition(long long value, const SliderRange& range)
{
    return static_cast<int>(std::clamp<long long>(value, range.minimum, range.maximum));
}

QString MinutesText(long long seconds)
{
    const QString unit = QStringLiteral(" mins");
    if (seconds % 60 == 0)
        return NumberText(seconds / 60) + unit;
    QString digits = QString::number(static_cast<double>(seconds) / 60.0, 'f', 2);
    while (digits.endsWith(QLatin1Char('0')))
        digits.chop(1);
    if (digits.endsWith(QLatin1Char('.')))
        digits.chop(1);
    if (!digits.startsWith(QLatin1Char('-')))
        digits.prepend(QLatin1Char(' '));
    return digits + unit;
}

} // namespace ostrelle
