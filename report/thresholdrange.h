#pragma once

#include <QString>
#include <optional>

namespace ostrelle {

// A threshold as monitoring plugins take it: "10" alerts outside 0 to 10, "10:" below 10, "~:10"
// above 10, "10:20" outside 10 to 20, and a leading "@" alerts inside the range instead.
struct ThresholdRange
{
    double start = 0.0;
    double end = 0.0;
    bool alertInside = false;
    QString text; // as the operator wrote it, for the perfdata

    bool alerts(double value) const;
};

// The range text means, or nothing when it is not one.
std::optional<ThresholdRange> ParseThresholdRange(const QString& text);

// The warning and critical ranges of one measure; either may be unset.
struct ThresholdPair
{
    std::optional<ThresholdRange> warning;
    std::optional<ThresholdRange> critical;
};

// What the plugin's -w/-c (absolute offset), -j/-k (jitter) and -W/-C (stratum) ask for.
struct ReportThresholds
{
    ThresholdPair offset;
    ThresholdPair jitter;
    ThresholdPair stratum;
};

} // namespace ostrelle
