#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>

namespace ostrelle {

class MessageDialog;
class ServerTable;
class SettingsBackend;

// The four options as the program holds them in memory, with their first-run defaults.
struct Settings
{
    std::int16_t SysTimeAdj = 0;          // 1: set the clock at the end of each pass
    std::int32_t NtpPoll = 60;            // seconds between the end of one pass and the next
    std::int32_t RefTimeHighlight = 600;  // seconds
    std::int16_t StratumHighlight = 15;

    bool operator==(const Settings&) const = default;
};

inline const QString SettingsApplication = QStringLiteral("Ostrelle");
inline const QString SettingsSection = QStringLiteral("Settings");

// "NtpServer" and the index with at least four digits: NtpServer0001, NtpServer10000.
QString ServerKey(int index);

// A stored number: a blank before zero and positive values, "-" before negative ones (" 60", "-1").
QString NumberText(long long value);

// The number at the start of a stored text (blanks, sign, digits, fraction); 0 when there is none.
double ReadNumber(QStringView text);
// ReadNumber rounded to the nearest integer, halves to even, saturated at the field's width.
std::int16_t ReadInt16(QStringView text);
std::int32_t ReadInt32(QStringView text);

// Moves the settings and the server list between memory and the per-user store.
class SettingsStore
{
public:
    SettingsStore(SettingsBackend& backend, MessageDialog& messages);

    // Replaces settings with the stored values and appends one table row per stored server name.
    void LoadSettings(Settings& settings, ServerTable& table);

    // Rewrites every key from memory. When the store cannot be written the operator is told why
    // and false is returned; memory is untouched, and the next successful save writes it all.
    bool SaveSettings(const Settings& settings, const ServerTable& table);

private:
    SettingsBackend& m_backend;
    MessageDialog& m_messages;
};

} // namespace ostrelle
