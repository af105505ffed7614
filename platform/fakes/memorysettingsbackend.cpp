#include "platform/fakes/memorysettingsbackend.h"

#include <QSet>

namespace ostrelle {

QString MemorySettingsBackend::fullKey(const QString& application, const QString& section, const QString& key)
{
    // A character no application, section or key name holds keeps the three parts apart.
    return application + QChar(u'\0') + section + QChar(u'\0') + key;
}

QString MemorySettingsBackend::get(const QString& application, const QString& section, const QString& key,
                                   const QString& defaultText)
{
    ++getCount;
    const QString k = fullKey(application, section, key);
    if (const auto staged = m_staged.constFind(k); staged != m_staged.constEnd())
        return *staged;
    return m_stored.value(k, defaultText);
}

QStringList MemorySettingsBackend::keys(const QString& application, const QString& section)
{
    const QString prefix = fullKey(application, section, QString());
    QSet<QString> names;
    for (const QMap<QString, QString>* map : {&m_stored, &m_staged}) {
        for (auto it = map->lowerBound(prefix); it != map->cend() && it.key().startsWith(prefix); ++it)
            names.insert(it.key().mid(prefix.size()));
    }
    return names.values();
}

void MemorySettingsBackend::save(const QString& application, const QString& section, const QString& key,
                                 const QString& text)
{
    ++saveCount;
    m_staged.insert(fullKey(application, section, key), text);
}

bool MemorySettingsBackend::commit(QString* whyNot)
{
    ++commitCount;
    if (failCommit) {
        if (whyNot)
            *whyNot = failReason;
        return false;
    }
    m_stored.insert(m_staged);
    m_staged.clear();
    return true;
}

std::optional<QString> MemorySettingsBackend::stored(const QString& section, const QString& key,
                                                     const QString& application) const
{
    const auto it = m_stored.constFind(fullKey(application, section, key));
    if (it == m_stored.constEnd())
        return std::nullopt;
    return *it;
}

void MemorySettingsBackend::seed(const QString& section, const QString& key, const QString& text,
                                 const QString& application)
{
    m_stored.insert(fullKey(application, section, key), text);
}

} // namespace ostrelle
