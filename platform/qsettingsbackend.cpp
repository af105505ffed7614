#include "platform/qsettingsbackend.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace ostrelle {

namespace {

QString settingsKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

} // namespace

#ifdef _WIN32
QSettingsBackend::QSettingsBackend() : QSettingsBackend(QString(), Format::Registry) {}
#else
QSettingsBackend::QSettingsBackend() : QSettingsBackend(QString(), Format::Ini) {}
#endif

QSettingsBackend::QSettingsBackend(const QString& directory, Format format)
    : m_format(format), m_directory(!directory.isEmpty()    ? directory
                                    : format == Format::Ini ? defaultDirectory()
                                                            : defaultRegistryKey())
{
}

QSettingsBackend::~QSettingsBackend() = default;

QString QSettingsBackend::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Brevikon");
}

QString QSettingsBackend::defaultRegistryKey()
{
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\Brevikon");
}

QString QSettingsBackend::filePath(const QString& application) const
{
    if (m_format == Format::Registry)
        return m_directory + QLatin1Char('\\') + application;
    return m_directory + QLatin1Char('/') + application + QStringLiteral(".ini");
}

QSettings& QSettingsBackend::settingsFor(const QString& application)
{
    Application& app = m_applications[application];
    if (!app.settings) {
        // QSettings's native format is the registry on Windows, given a path that starts with HKEY_.
        app.settings = std::make_unique<QSettings>(filePath(application), m_format == Format::Registry
                                                                              ? QSettings::NativeFormat
                                                                              : QSettings::IniFormat);
    }
    return *app.settings;
}

QString QSettingsBackend::get(const QString& application, const QString& section, const QString& key,
                              const QString& defaultText)
{
    const QString fullKey = settingsKey(section, key);
    if (const auto app = m_applications.find(application); app != m_applications.end()) {
        const auto staged = app->second.staged.constFind(fullKey);
        if (staged != app->second.staged.constEnd())
            return *staged;
    }

    QSettings& settings = settingsFor(application);
    if (!settings.contains(fullKey))
        return defaultText;
    const QVariant value = settings.value(fullKey);
    // An unquoted text with commas, as a hand-edited file may hold, reads back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    if (value.canConvert<QString>())
        return value.toString();
    return defaultText;
}

QStringList QSettingsBackend::keys(const QString& application, const QString& section)
{
    QSettings& settings = settingsFor(application);
    settings.beginGroup(section);
    const QStringList stored = settings.childKeys();
    settings.endGroup();
    QSet<QString> names(stored.cbegin(), stored.cend());
    const QString prefix = section + QLatin1Char('/');
    for (const QString& staged : m_applications[application].staged.keys()) {
        if (staged.startsWith(prefix))
            names.insert(staged.mid(prefix.size()));
    }
    return names.values();
}

void QSettingsBackend::save(const QString& application, const QString& section, const QString& key,
                            const QString& text)
{
    m_applications[application].staged.insert(settingsKey(section, key), text);
}

bool QSettingsBackend::commit(QString* whyNot)
{
    for (auto& [application, app] : m_applications) {
        if (!app.staged.isEmpty() && !commitApplication(application, app, whyNot))
            return false;
    }
    return true;
}

void QSettingsBackend::reload()
{
    // sync() reads the file again when it changed on disk; with nothing staged it writes nothing.
    for (auto& [application, app] : m_applications) {
        if (app.staged.isEmpty() && app.settings)
            app.settings->sync();
    }
}

bool QSettingsBackend::commitApplication(const QString& application, Application& app, QString* whyNot)
{
    const QString path = QDir::toNativeSeparators(filePath(application));
    const auto fail = [&](const QString& cause) {
        if (whyNot)
            *whyNot = QStringLiteral("%1: %2").arg(path, cause);
        // QSettings keeps its first error for good; a fresh object lets the next commit succeed.
        app.settings.reset();
        return false;
    };

    // Registry keys are made as they are written.
    if (m_format == Format::Ini && !QDir().mkpath(m_directory))
        return fail(QStringLiteral("the folder cannot be created"));

    // A file that could not even be read has left its object with a lasting error.
    if (app.settings && app.settings->status() == QSettings::AccessError)
        app.settings.reset();
    QSettings& settings = settingsFor(application);
    for (auto it = app.staged.constBegin(); it != app.staged.constEnd(); ++it)
        settings.setValue(it.key(), *it);
    settings.sync();
    if (settings.status() == QSettings::AccessError) {
        const bool folderInTheWay = m_format == Format::Ini && QFileInfo(filePath(application)).isDir();
        return fail(folderInTheWay ? QStringLiteral("a folder is in the way")
                                   : QStringLiteral("access denied"));
    }
    app.staged.clear();
    return true;
}

} // namespace ostrelle
