#include "ntp/clockfilter.h"

#include "ntp/agreement.h"

#include <algorithm>
#include <cmath>

namespace ostrelle {

FilteredSamples FilterSamples(const QList<PollStep>& samples, double now)
{
    const auto distance = [now](const PollStep& s) {
        return s.reading.roundTripSeconds / 2.0 + LocalClockDrift * std::max(now - s.reading.receivedAt, 0.0);
    };
    FilteredSamples result;
    qsizetype lastAnswer = -1;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const PollStep& s = samples.at(i);
        if (!s.answered)
            continue;
        lastAnswer = i;
        if (!s.reading.hasTimestamps || !std::isfinite(s.reading.roundTripSeconds))
            continue;
        ++result.answered;
        if (result.chosen < 0 || distance(s) <= distance(samples.at(result.chosen)))
            result.chosen = i;
    }
    if (result.chosen < 0) {
        result.chosen = lastAnswer;
        return result;
    }
    if (result.answered < 2)
        return result;
    const double offset = samples.at(result.chosen).reading.offsetSeconds;
    double sum = 0.0;
    for (const PollStep& s : samples) {
        if (s.answered && s.reading.hasTimestamps && std::isfinite(s.reading.roundTripSeconds))
            sum += (s.reading.offsetSeconds - offset) * (s.reading.offsetSeconds - offset);
    }
    result.jitterSeconds = std::sqrt(sum / (result.answered - 1));
    return result;
}

} // namespace ostrelle
