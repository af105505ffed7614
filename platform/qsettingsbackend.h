#pragma once

#include "platform/settingsbackend.h"

#include <QMap>
#include <QString>
#include <map>
#include <memory>

class QSettings;

namespace ostrelle {

// The per-user store on QSettings: one INI file per application, <directory>/<application>.ini,
// each section an INI group. The file is always replaced whole, never left half written.
class QSettingsBackend final : public SettingsBackend
{
public:
    // directory defaults to defaultDirectory().
    explicit QSettingsBackend(const QString& directory = QString());
    ~QSettingsBackend() override;

    QString get(const QString& application, const QString& section, const QString& key,
                const QString& defaultText) override;
    QStringList keys(const QString& application, const QString& section) override;
    void save(const QString& application, const QString& section, const QString& key,
              const QString& text) override;
    [[nodiscard]] bool commit(QString* whyNot) override;

    // The user's configuration folder followed by "Brevikon" (honours XDG_CONFIG_HOME).
    static QString defaultDirectory();

    QString directory() const { return m_directory; }
    QString filePath(const QString& application) const;

private:
    struct Application
    {
        std::unique_ptr<QSettings> settings;
        QMap<QString, QString> staged; // "section/key" -> text, until a commit succeeds
    };

    QSettings& settingsFor(const QString& application);
    bool commitApplication(const QString& application, Application& app, QString* whyNot);

    QString m_directory;
    std::map<QString, Application> m_applications;
};

} // namespace ostrelle
