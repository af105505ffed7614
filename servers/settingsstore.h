#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>

namespace ostrelle {

class MessageDialog;
class SettingsBackend;

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

// A stored number: a blank before zero and positive values, "-" before negative ones (" 60", "-1").
QString NumberText(long long value);

// The number at the start of a stored text (blanks, sign, digits, fraction); 0 when there is none.
double ReadNumber(QStringView text);
// ReadNumber rounded to the nearest integer, halves to even, and held within [minimum, maximum].
int ReadClamped(QStringView text, int minimum, int maximum);

// What one load found in the store.
struct StoredState
{
    Settings settings;
    QStringList servers; // every stored name, verbatim, in stored order
};

// Moves the settings and the server list between memory and the per-user store. The only code
// that knows the stored keys.
class SettingsStore
{
public:
    SettingsStore(SettingsBackend& backend, MessageDialog& messages);

    StoredState loadSettings();

    // Rewrites every key from memory. When the store cannot be written the operator is told why
    // and false is returned; the next successful save writes it all.
    bool saveSettings(const Settings& settings, const QStringList& servers);

private:
    SettingsBackend& m_backend;
    MessageDialog& m_messages;
};

} // namespace ostrelle
