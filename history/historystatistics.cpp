#include "history/historystatistics.h"

#include "servers/serverformat.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ostrelle {

namespace {

double median(std::vector<double> values)
{
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1)
        return *middle;
    const double upper = *middle;
    const double lower = *std::max_element(values.begin(), middle);
    return lower + (upper - lower) / 2;
}

} // namespace

HistoryStatistics ComputeHistoryStatistics(const QList<HistorySample>& samples)
{
    HistoryStatistics stats;
    stats.samples = static_cast<int>(samples.size());
    std::vector<double> offsets;
    std::vector<double> roundTrips;
    const HistorySample* last = nullptr;
    for (const HistorySample& s : samples) {
        if (!s.answered())
            continue;
        offsets.push_back(s.offset);
        roundTrips.push_back(s.roundTrip);
        last = &s;
    }
    stats.answered = static_cast<int>(offsets.size());
    if (stats.samples > 0)
        stats.availabilityPercent = 100.0 * stats.answered / stats.samples;
    if (offsets.empty())
        return stats;
    const auto [low, high] = std::minmax_element(offsets.begin(), offsets.end());
    stats.offsetMin = *low;
    stats.offsetMax = *high;
    if (offsets.size() >= 2) {
        double sum = 0.0;
        for (std::size_t i = 1; i < offsets.size(); ++i)
            sum += (offsets[i] - offsets[i - 1]) * (offsets[i] - offsets[i - 1]);
        stats.jitter = std::sqrt(sum / static_cast<double>(offsets.size() - 1));
    }
    stats.offsetMedian = median(std::move(offsets));
    stats.roundTripMedian = median(std::move(roundTrips));
    stats.lastStratum = last->stratum;
    stats.lastReference = ReferenceText(last->stratum, last->referenceId);
    return stats;
}

} // namespace ostrelle
