#pragma once

namespace ostrelle {

// The options as the program holds them in memory, with their first-run defaults.
struct Settings
{
    bool adjustClock = false;           // set the clock at the end of each pass
    int pollIntervalSeconds = 60;       // between the end of one pass and the next
    int referenceAgeLimitSeconds = 600; // an older reference time marks the row
    int stratumLimit = 15;              // a higher stratum marks the row
    bool notify = true;                 // desktop notifications of what changed
    bool hideWhenMinimised = false;     // minimising leaves only the tray icon, where there is a tray

    bool operator==(const Settings&) const = default;
};

// The range the Options dialog can show for each number, in the unit the dialog shows. Every
// stored number is brought into it when it is loaded.
struct SettingRange
{
    int minimum;
    int maximum;
};
inline constexpr SettingRange PollIntervalMinutes{1, 60};
inline constexpr SettingRange ReferenceAgeLimitMinutes{2, 60};
inline constexpr SettingRange StratumLimitRange{0, 15};

} // namespace ostrelle
