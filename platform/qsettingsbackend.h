#pragma once

#include "platform/settingsbackend.h"

#include <QMap>
#include <QString>
#include <map>
#include <memory>

class QSettings;

namespace ostrelle {

// The per-user store on QSettings, each section a group, the same keys and the same texts in
// either format: one INI file per application, <directory>/<application>.ini, always replaced whole,
// never left half written; or, on Windows, one registry key per application,
// <key>\<application>, each section a subkey and each value a string.
class QSettingsBackend final : public SettingsBackend
{
public:
    enum class Format {
        Ini,
        Registry, // Windows only
    };

    // The system's usual store: the INI files in defaultDirectory() on Linux, the registry under
    // defaultRegistryKey() on Windows.
    QSettingsBackend();
    // INI files in directory (defaultDirectory() when empty), or, on Windows, keys under the
    // registry key directory names (defaultRegistryKey() when empty).
    explicit QSettingsBackend(const QString& directory, Format format = Format::Ini);
    ~QSettingsBackend() override;

    QString get(const QString& application, const QString& section, const QString& key,
                const QString& defaultText) override;
    QStringList keys(const QString& application, const QString& section) override;
    void save(const QString& application, const QString& section, const QString& key,
              const QString& text) override;
    [[nodiscard]] bool commit(QString* whyNot) override;
    void reload() override;

    // The user's configuration folder followed by "Brevikon" (honours XDG_CONFIG_HOME).
    static QString defaultDirectory();
    // HKEY_CURRENT_USER\Software\Brevikon.
    static QString defaultRegistryKey();

    Format format() const { return m_format; }
    QString directory() const { return m_directory; }
    // The application's INI file, or its registry key.
    QString filePath(const QString& application) const;

private:
    struct Application
    {
        std::unique_ptr<QSettings> settings;
        QMap<QString, QString> staged; // "section/key" -> text, until a commit succeeds
    };

    QSettings& settingsFor(const QString& application);
    bool commitApplication(const QString& application, Application& app, QString* whyNot);

    Format m_format;
    QString m_directory;
    std::map<QString, Application> m_applications;
};

} // namespace ostrelle
