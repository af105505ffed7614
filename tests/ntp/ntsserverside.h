#pragma once

#include "ntp/nts/aessiv.h"
#include "ntp/nts/ntsextensions.h"

#include <QByteArray>
#include <QList>

namespace ostrelle {

// The server's half of an NTS exchange, for tests: what a request carries once its authenticator
// has verified with the client-to-server key, and replies made with the server-to-client key.
struct NtsRequestSeen
{
    bool authentic = false;
    QByteArray header;
    QByteArray uniqueId;
    QByteArray cookie;
    int placeholders = 0;
};

inline NtsRequestSeen ReadNtsRequest(const QByteArray& request, const AesSivCmac256& c2s)
{
    NtsRequestSeen seen;
    QList<NtpExtensionField> fields;
    if (request.size() < qsizetype(NtpPacketSize) || !ParseNtpExtensionFields(request, NtpPacketSize, fields))
        return seen;
    seen.header = request.left(NtpPacketSize);
    for (const NtpExtensionField& field : fields) {
        switch (NtsFieldType(field.type)) {
        case NtsFieldType::UniqueIdentifier:
            seen.uniqueId = field.body;
            break;
        case NtsFieldType::Cookie:
            seen.cookie = field.body;
            break;
        case NtsFieldType::CookiePlaceholder:
            ++seen.placeholders;
            break;
        case NtsFieldType::Authenticator: {
            const int nonceSize = (quint8(field.body[0]) << 8) | quint8(field.body[1]);
            const int ciphertextSize = (quint8(field.body[2]) << 8) | quint8(field.body[3]);
            const auto plaintext = c2s.decrypt(field.body.mid(4, nonceSize), request.left(field.offset),
                                               field.body.mid(4 + ((nonceSize + 3) & ~3), ciphertextSize));
            seen.authentic = plaintext && plaintext->isEmpty();
            break;
        }
        }
    }
    return seen;
}

// A server-mode header (version 4, stratum 2) with the given stratum and reference identifier.
inline QByteArray NtsReplyHeader(char stratum = 2, const QByteArray& referenceId = "LOCL")
{
    QByteArray header(NtpPacketSize, '\0');
    header[0] = char((4 << 3) | 4);
    header[1] = stratum;
    header.replace(12, 4, referenceId.left(4));
    return header;
}

// header with the unique identifier and the authenticator over them, carrying cookies.
inline QByteArray BuildNtsReply(const QByteArray& uniqueId, const QList<QByteArray>& cookies,
                                const AesSivCmac256& s2c, const QByteArray& header = NtsReplyHeader())
{
    QByteArray reply = header;
    AppendNtpExtensionField(reply, NtsFieldType::UniqueIdentifier, uniqueId);
    QByteArray plaintext;
    for (const QByteArray& cookie : cookies)
        AppendNtpExtensionField(plaintext, NtsFieldType::Cookie, cookie);
    if (!AppendNtsAuthenticator(reply, s2c, QByteArray(16, '\x5a'), plaintext))
        return {};
    return reply;
}

// A key exchange record as the server sends it: critical bit and type, body length, body.
inline QByteArray NtsKeRecord(bool critical, std::uint16_t type, const QByteArray& body)
{
    const std::uint16_t field = type | (critical ? 0x8000 : 0);
    QByteArray out;
    out.append(char(field >> 8)).append(char(field & 0xff));
    out.append(char(body.size() >> 8)).append(char(body.size() & 0xff));
    return out + body;
}

// The kiss-o'-death a server sends when it cannot use the cookie of the request.
inline QByteArray BuildNtsNak(const QByteArray& uniqueId)
{
    QByteArray reply = NtsReplyHeader(0, "NTSN");
    AppendNtpExtensionField(reply, NtsFieldType::UniqueIdentifier, uniqueId);
    return reply;
}

} // namespace ostrelle
