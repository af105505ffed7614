#pragma once

#include "servers/settings.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>

namespace ostrelle {

class MessageDialog;
class SettingsBackend;

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
