#include "ntp/nts/ntssessions.h"

#include "servers/servername.h"

#include <QSet>

namespace ostrelle {

NtsSessions::~NtsSessions() = default;

NtsSession* NtsSessions::sessionFor(const QString& name)
{
    if (NtsSession* known = find(name))
        return known;
    const std::optional<ServerAddress> server = ParseServerAddress(name);
    if (!server || !server->isNts())
        return nullptr;
    auto session = std::make_unique<NtsSession>(server->host, server->port ? server->port : DefaultNtsKePort);
    if (!m_extraTrustFile.isEmpty())
        session->setExtraTrustFile(m_extraTrustFile);
    NtsSession* made = session.get();
    connect(made, &NtsSession::keyExchangeFinished, this,
            [this, made](bool ok, const QString& reason) { emit keyExchangeFinished(made, ok, reason); });
    m_sessions.emplace(name, std::move(session));
    return made;
}

NtsSession* NtsSessions::find(const QString& name) const
{
    const auto found = m_sessions.find(name);
    return found == m_sessions.end() ? nullptr : found->second.get();
}

void NtsSessions::retainOnly(const QStringList& names)
{
    const QSet<QString> kept(names.cbegin(), names.cend());
    std::erase_if(m_sessions, [&kept](const auto& entry) { return !kept.contains(entry.first); });
}

void NtsSessions::setExtraTrustFile(const QString& path)
{
    m_extraTrustFile = path;
    for (const auto& [name, session] : m_sessions)
        session->setExtraTrustFile(path);
}

} // namespace ostrelle
