#pragma once

#include "servers/settingsstore.h"

#include <QString>

namespace ostrelle {

// A slider's range in the unit it shows, and how it steps.
struct SliderRange
{
    SettingRange range;
    int largeStep;
    int tickInterval;
};

inline constexpr SliderRange PollMinutesSlider{PollIntervalMinutes, 5, 5};
inline constexpr SliderRange ReferenceAgeMinutesSlider{ReferenceAgeLimitMinutes, 5, 5};
inline constexpr SliderRange StratumSlider{StratumLimitRange, 1, 1};

// Seconds as whole minutes, rounded to the nearest minute with halves to the even neighbour.
int RoundedMinutes(int seconds);

// Where a slider stands for a value: the value itself, or the nearest end of the range.
int SliderPosition(int value, const SettingRange& range);

// A number of seconds shown in minutes: " 1 mins", " 1.5 mins". A fraction of a minute keeps at
// most two decimals, without trailing zeros (100 s is " 1.67 mins").
QString MinutesText(int seconds);

} // namespace ostrelle
