#include "ntp/nts/ntssession.h"

#include "ntp/nts/aessiv.h"

#include <algorithm>
#include <gnutls/crypto.h>

namespace ostrelle {

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    if (gnutls_rnd(GNUTLS_RND_NONCE, bytes.data(), size_t(size)) < 0)
        return {};
    return bytes;
}

} // namespace

NtsSession::NtsSession(const QString& host, quint16 keyExchangePort, QObject* parent)
    : QObject(parent), m_host(host), m_keyExchangePort(keyExchangePort), m_ntpAddress(host)
{
    connect(&m_client, &NtsKeClient::finished, this, [this](const NtsKeResult& result) {
        adoptKeyExchange(result);
        emit keyExchangeFinished(result.ok, result.reason);
    });
}

NtsSession::~NtsSession() = default;

bool NtsSession::needsKeyExchange() const
{
    return !m_c2s || !m_s2c || m_cookies.isEmpty() || m_nakReceived;
}

void NtsSession::startKeyExchange(std::chrono::milliseconds timeout)
{
    m_client.start(m_host, m_keyExchangePort, timeout);
}

void NtsSession::adoptKeyExchange(const NtsKeResult& result)
{
    m_certificate = result.certificate;
    if (!result.ok)
        return;
    auto c2s = std::make_unique<AesSivCmac256>(result.c2sKey);
    auto s2c = std::make_unique<AesSivCmac256>(result.s2cKey);
    if (!c2s->valid() || !s2c->valid())
        return;
    m_c2s = std::move(c2s);
    m_s2c = std::move(s2c);
    m_cookies = result.cookies;
    m_ntpAddress = result.ntpServer;
    m_ntpPort = result.ntpPort;
    m_pendingUniqueId.clear();
    m_nakReceived = false;
}

QByteArray NtsSession::authenticatedRequest(const NtpPacketBytes& header)
{
    if (needsKeyExchange())
        return {};
    // Enough placeholders that the reply brings the store back to full, counting the cookie we spend.
    const int placeholders = std::max(0, NtsCookiesToKeep - int(m_cookies.size()));
    const QByteArray uniqueId = randomBytes(NtsUniqueIdentifierSize);
    const QByteArray nonce = randomBytes(NtsNonceSize);
    if (uniqueId.isEmpty() || nonce.isEmpty())
        return {};
    const QByteArray request =
        BuildNtsRequest(header, uniqueId, m_cookies.first(), placeholders, *m_c2s, nonce);
    if (request.isEmpty())
        return {};
    // A cookie is used once: sent twice it would link our requests for anyone watching.
    m_cookies.removeFirst();
    m_pendingUniqueId = uniqueId;
    return request;
}

NtsReplyCheck NtsSession::verifyReply(const QByteArray& datagram)
{
    if (!m_s2c || m_pendingUniqueId.isEmpty()) {
        NtsReplyCheck check;
        check.result = NtsReplyCheck::Result::UniqueIdMismatch;
        return check;
    }
    NtsReplyCheck check = VerifyNtsReply(datagram, m_pendingUniqueId, *m_s2c);
    if (check.accepted()) {
        m_pendingUniqueId.clear();
        m_cookies += check.cookies;
        while (m_cookies.size() > NtsCookiesToKeep)
            m_cookies.removeFirst();
    } else if (check.result == NtsReplyCheck::Result::Nak) {
        m_pendingUniqueId.clear();
        m_nakReceived = true;
    }
    return check;
}

} // namespace ostrelle
