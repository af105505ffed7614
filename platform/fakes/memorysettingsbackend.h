#pragma once

#include "platform/settingsbackend.h"

#include <QMap>
#include <QString>
#include <optional>

namespace ostrelle {

// A store in memory. Saved texts are staged and reach the store at commit(), which can be told to
// fail, as an unwritable store would.
class MemorySettingsBackend final : public SettingsBackend
{
public:
    QString get(const QString& application, const QString& section, const QString& key,
                const QString& defaultText) override;
    QStringList keys(const QString& application, const QString& section) override;
    void save(const QString& application, const QString& section, const QString& key,
              const QString& text) override;
    [[nodiscard]] bool commit(QString* whyNot) override;

    // What the store holds (committed texts only); nullopt for an absent key.
    std::optional<QString> stored(const QString& section, const QString& key,
                                  const QString& application = QStringLiteral("Ostrelle")) const;
    // Puts a text into the store directly, as an earlier run would have left it.
    void seed(const QString& section, const QString& key, const QString& text,
              const QString& application = QStringLiteral("Ostrelle"));
    // Number of keys the store holds.
    int size() const { return static_cast<int>(m_stored.size()); }

    bool failCommit = false;
    QString failReason = QStringLiteral("/home/operator/.config/Brevikon/Ostrelle.ini: access denied");

    int saveCount = 0;
    int commitCount = 0;
    int getCount = 0;

private:
    static QString fullKey(const QString& application, const QString& section, const QString& key);

    QMap<QString, QString> m_stored;
    QMap<QString, QString> m_staged;
};

} // namespace ostrelle
