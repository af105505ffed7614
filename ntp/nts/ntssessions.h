#pragma once

#include "ntp/nts/ntssession.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>

namespace ostrelle {

// The NTS sessions of the poll cycle, one per nts:// server name, in memory only: made at a
// name's first poll and dropped once the name has left the server list.
class NtsSessions : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~NtsSessions() override;

    // The session of an nts:// name, made on first use; nullptr for a plain server's name.
    NtsSession* sessionFor(const QString& name);
    // The session of name if it has one already; nullptr otherwise.
    NtsSession* find(const QString& name) const;
    // Drops the sessions of the names not in names.
    void retainOnly(const QStringList& names);
    // A PEM file of certificates trusted beside the system's store, for every session; for tests.
    void setExtraTrustFile(const QString& path);

signals:
    void keyExchangeFinished(ostrelle::NtsSession* session, bool ok, const QString& reason);

private:
    std::map<QString, std::unique_ptr<NtsSession>> m_sessions;
    QString m_extraTrustFile;
};

} // namespace ostrelle
