#pragma once

#include "history/historysample.h"

#include <QList>
#include <QString>
#include <optional>

namespace ostrelle {

// The figures of a span of one server's samples; seconds throughout, empty where no answer came.
struct HistoryStatistics
{
    int samples = 0;
    int answered = 0;
    double availabilityPercent = 0.0; // answered / samples * 100; 0 without samples
    std::optional<double> offsetMedian;
    std::optional<double> offsetMin;
    std::optional<double> offsetMax;
    std::optional<double> jitter; // RMS of successive offset differences; needs two answers
    std::optional<double> roundTripMedian;
    std::optional<int> lastStratum;
    QString lastReference;
};

// The figures of samples given oldest first.
HistoryStatistics ComputeHistoryStatistics(const QList<HistorySample>& samples);

} // namespace ostrelle
