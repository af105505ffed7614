#pragma once

#include <QString>
#include <QStringList>

namespace ostrelle {

// The per-user settings store: text values by application, section and key.
class SettingsBackend
{
public:
    virtual ~SettingsBackend() = default;

    // The stored text, or defaultText when the key is absent.
    virtual QString get(const QString& application, const QString& section, const QString& key,
                        const QString& defaultText) = 0;

    // The names of the keys the section holds (staged ones included), in no particular order.
    virtual QStringList keys(const QString& application, const QString& section) = 0;

    // Creates the key or overwrites its text. Takes effect in the store at the next commit().
    virtual void save(const QString& application, const QString& section, const QString& key,
                      const QString& text) = 0;

    // Writes what save() staged, all at once. On failure returns false and puts the reason,
    // fit for the operator (path and cause), into whyNot; what was staged is kept for the next try.
    [[nodiscard]] virtual bool commit(QString* whyNot) = 0;

    // Reads again what another process may have written since; what is staged stays. A program
    // that runs for months (the exporter) sees an edited server list without a restart.
    virtual void reload() {}
};

} // namespace ostrelle
