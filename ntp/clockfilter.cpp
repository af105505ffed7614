#include "ntp/clockfilter.h"

#include "ntp/agreement.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrelle {

FilteredSamples FilterSamples(const QList<PollStep>& samples, double now)
{
    const auto distance = [now](const PollStep& s) {
        return s.reading.roundTripSeconds / 2.0 + LocalClockDrift * std::max(now - s.reading.receivedAt, 0.0);
    };
    const auto usable = [](const PollStep& s) {
        return s.answered && s.reading.hasTimestamps && std::isfinite(s.reading.roundTripSeconds);
    };
    FilteredSamples result;
    qsizetype lastAnswer = -1;
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const PollStep& s = samples.at(i);
        if (!s.answered)
            continue;
        lastAnswer = i;
        if (!usable(s))
            continue;
        ++result.answered;
        const double d = distance(s);
        low = std::max(low, s.reading.offsetSeconds - d);
        high = std::min(high, s.reading.offsetSeconds + d);
        if (result.chosen < 0 || d <= distance(samples.at(result.chosen)))
            result.chosen = i;
    }
    if (result.chosen < 0) {
        result.chosen = lastAnswer;
        if (lastAnswer >= 0)
            result.offsetSeconds = samples.at(lastAnswer).reading.offsetSeconds;
        return result;
    }
    result.offsetSeconds = low <= high ? (low + high) / 2.0 : samples.at(result.chosen).reading.offsetSeconds;
    if (result.answered < 2)
        return result;
    double sum = 0.0;
    for (const PollStep& s : samples) {
        if (usable(s))
            sum += (s.reading.offsetSeconds - result.offsetSeconds) *
                   (s.reading.offsetSeconds - result.offsetSeconds);
    }
    result.jitterSeconds = std::sqrt(sum / (result.answered - 1));
    return result;
}

PollStep FilteredStep(const QList<PollStep>& samples, double now)
{
    const FilteredSamples filtered = FilterSamples(samples, now);
    PollStep step = samples.at(filtered.chosen >= 0 ? filtered.chosen : samples.size() - 1);
    if (filtered.chosen >= 0)
        step.reading.offsetSeconds = filtered.offsetSeconds;
    step.jitterSeconds = filtered.jitterSeconds;
    step.answers = filtered.answered;
    return step;
}

} // namespace ostrelle
