#include "report/thresholdrange.h"

#include <cmath>
#include <limits>

namespace ostrelle {

namespace {

std::optional<double> boundOf(const QString& text, double ifEmpty)
{
    if (text.isEmpty())
        return ifEmpty;
    if (text == QLatin1String("~"))
        return -std::numeric_limits<double>::infinity();
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

bool ThresholdRange::alerts(double value) const
{
    const bool inside = value >= start && value <= end;
    return alertInside ? inside : !inside;
}

std::optional<ThresholdRange> ParseThresholdRange(const QString& text)
{
    ThresholdRange range;
    range.text = text;
    QString rest = text.trimmed();
    if (rest.startsWith(QLatin1Char('@'))) {
        range.alertInside = true;
        rest.remove(0, 1);
    }
    if (rest.isEmpty() || rest.count(QLatin1Char(':')) > 1)
        return std::nullopt;
    const qsizetype colon = rest.indexOf(QLatin1Char(':'));
    const QString startText = colon < 0 ? QString() : rest.left(colon);
    const QString endText = colon < 0 ? rest : rest.mid(colon + 1);
    // "~" stands for minus infinity, and only as the start.
    if (endText == QLatin1String("~"))
        return std::nullopt;
    const std::optional<double> start = boundOf(startText, 0.0);
    const std::optional<double> end = boundOf(endText, std::numeric_limits<double>::infinity());
    if (!start || !end || *start > *end)
        return std::nullopt;
    range.start = *start;
    range.end = *end;
    return range;
}

} // namespace ostrelle
