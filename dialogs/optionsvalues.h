#pragma once

#include <QString>
#include <cstdint>

namespace ostrelle {

// A slider's range in the unit it shows.
struct SliderRange
{
    int minimum;
    int maximum;
    int smallStep;
    int largeStep;
    int tickInterval;
};

inline constexpr SliderRange PollMinutesRange{1, 60, 1, 5, 5};
inline constexpr SliderRange RefTimeMinutesRange{2, 60, 1, 5, 5};
inline constexpr SliderRange StratumRange{0, 15, 1, 1, 1};

// Seconds as whole minutes, rounded to the nearest minute with halves to the even neighbour.
long long RoundedMinutes(long long seconds);

// Where a slider stands for a value: the value itself, or the nearest end of the range.
int SliderPosition(long long value, const SliderRange& range);

// A number of seconds shown in minutes: " 1 mins", " 1.5 mins". A fraction of a minute keeps at
// most two decimals, without trailing zeros (100 s is " 1.67 mins").
QString MinutesText(long long seconds);

} // namespace ostrelle
