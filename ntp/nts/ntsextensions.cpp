#include "ntp/nts/ntsextensions.h"

#include "ntp/nts/aessiv.h"

#include <QtEndian>
#include <algorithm>

namespace ostrelle {

namespace {

constexpr qsizetype FieldHeaderSize = 4;
constexpr qsizetype MinimumFieldSize = 16;
// The refid of a kiss-o'-death with which a server says it could not use our cookie.
constexpr char NakCode[] = "NTSN";

void appendUint16(QByteArray& out, std::uint16_t value)
{
    out.append(static_cast<char>(value >> 8));
    out.append(static_cast<char>(value & 0xff));
}

qsizetype paddedTo4(qsizetype size)
{
    return (size + 3) & ~qsizetype(3);
}

} // namespace

bool ParseNtpExtensionFields(const QByteArray& packet, qsizetype offset, QList<NtpExtensionField>& fields)
{
    fields.clear();
    while (offset < packet.size()) {
        if (packet.size() - offset < FieldHeaderSize)
            return false;
        const auto type = qFromBigEndian<std::uint16_t>(packet.constData() + offset);
        const auto length = qFromBigEndian<std::uint16_t>(packet.constData() + offset + 2);
        if (length < FieldHeaderSize || length % 4 != 0 || length > packet.size() - offset)
            return false;
        fields.append({offset, type, packet.mid(offset + FieldHeaderSize, length - FieldHeaderSize)});
        offset += length;
    }
    return true;
}

void AppendNtpExtensionField(QByteArray& packet, NtsFieldType type, const QByteArray& body)
{
    const qsizetype size = std::max(paddedTo4(FieldHeaderSize + body.size()), MinimumFieldSize);
    appendUint16(packet, static_cast<std::uint16_t>(type));
    appendUint16(packet, static_cast<std::uint16_t>(size));
    packet.append(body);
    packet.append(size - FieldHeaderSize - body.size(), '\0');
}

bool AppendNtsAuthenticator(QByteArray& packet, const AesSivCmac256& cipher, const QByteArray& nonce,
                            const QByteArray& plaintext)
{
    const std::optional<QByteArray> ciphertext = cipher.encrypt(nonce, packet, plaintext);
    if (!ciphertext)
        return false;
    QByteArray body;
    appendUint16(body, static_cast<std::uint16_t>(nonce.size()));
    appendUint16(body, static_cast<std::uint16_t>(ciphertext->size()));
    body.append(nonce);
    body.append(paddedTo4(nonce.size()) - nonce.size(), '\0');
    body.append(*ciphertext);
    AppendNtpExtensionField(packet, NtsFieldType::Authenticator, body);
    return true;
}

QByteArray BuildNtsRequest(const NtpPacketBytes& header, const QByteArray& uniqueIdentifier,
                           const QByteArray& cookie, int placeholders, const AesSivCmac256& c2s,
                           const QByteArray& nonce)
{
    QByteArray request(reinterpret_cast<const char*>(header.data()), static_cast<qsizetype>(header.size()));
    AppendNtpExtensionField(request, NtsFieldType::UniqueIdentifier, uniqueIdentifier);
    AppendNtpExtensionField(request, NtsFieldType::Cookie, cookie);
    // A placeholder as long as the cookie, so the server can fill it without making the reply
    // longer than the request.
    for (int i = 0; i < placeholders; ++i)
        AppendNtpExtensionField(request, NtsFieldType::CookiePlaceholder, QByteArray(cookie.size(), '\0'));
    // Nothing secret in the request itself: the plaintext of the authenticator is empty.
    if (!AppendNtsAuthenticator(request, c2s, nonce, {}))
        return {};
    return request;
}

QString NtsReplyCheck::reason() const
{
    switch (result) {
    case Result::Accepted:
        return {};
    case Result::TooShort:
        return QStringLiteral("NTS: reply too short");
    case Result::MalformedField:
        return QStringLiteral("NTS: malformed extension field");
    case Result::NoAuthenticator:
        return QStringLiteral("NTS: no authenticator");
    case Result::AuthenticationFailed:
        return QStringLiteral("NTS: authentication failed");
    case Result::UniqueIdMismatch:
        return QStringLiteral("NTS: unique identifier mismatch");
    case Result::Nak:
        return QStringLiteral("NTS: cookie refused (NTSN)");
    }
    return {};
}

NtsReplyCheck VerifyNtsReply(const QByteArray& datagram, const QByteArray& uniqueIdentifier,
                             const AesSivCmac256& s2c)
{
    using Result = NtsReplyCheck::Result;
    NtsReplyCheck check;
    const auto refuse = [&check](Result result) {
        check.result = result;
        check.cookies.clear();
        return check;
    };
    if (datagram.size() < qsizetype(NtpPacketSize))
        return refuse(Result::TooShort);
    QList<NtpExtensionField> fields;
    if (!ParseNtpExtensionFields(datagram, NtpPacketSize, fields))
        return refuse(Result::MalformedField);

    // Only what comes before the authenticator is covered by it; anything after is ignored.
    const NtpExtensionField* authenticator = nullptr;
    bool uniqueIdMatches = false;
    for (const NtpExtensionField& field : fields) {
        if (field.type == static_cast<std::uint16_t>(NtsFieldType::Authenticator)) {
            authenticator = &field;
            break;
        }
        if (field.type == static_cast<std::uint16_t>(NtsFieldType::UniqueIdentifier))
            uniqueIdMatches = !uniqueIdentifier.isEmpty() && field.body == uniqueIdentifier;
    }

    if (!authenticator) {
        // A NAK cannot be authenticated; its echo of our unique identifier shows that it answers
        // our request and is not someone's attempt to make us drop our cookies.
        const auto& wire = *reinterpret_cast<const NtpWirePacket*>(datagram.constData());
        const bool nak = wire.stratum == 0 && std::equal(wire.referenceId, wire.referenceId + 4, NakCode);
        return refuse(nak && uniqueIdMatches ? Result::Nak : Result::NoAuthenticator);
    }

    const QByteArray& body = authenticator->body;
    if (body.size() < 4)
        return refuse(Result::MalformedField);
    const qsizetype nonceSize = qFromBigEndian<std::uint16_t>(body.constData());
    const qsizetype ciphertextSize = qFromBigEndian<std::uint16_t>(body.constData() + 2);
    if (4 + paddedTo4(nonceSize) + ciphertextSize > body.size())
        return refuse(Result::MalformedField);
    const QByteArray nonce = body.mid(4, nonceSize);
    const QByteArray ciphertext = body.mid(4 + paddedTo4(nonceSize), ciphertextSize);
    const std::optional<QByteArray> plaintext =
        s2c.decrypt(nonce, datagram.left(authenticator->offset), ciphertext);
    if (!plaintext)
        return refuse(Result::AuthenticationFailed);
    if (!uniqueIdMatches)
        return refuse(Result::UniqueIdMismatch);

    QList<NtpExtensionField> encrypted;
    if (!ParseNtpExtensionFields(*plaintext, 0, encrypted))
        return refuse(Result::MalformedField);
    for (const NtpExtensionField& field : encrypted) {
        if (field.type == static_cast<std::uint16_t>(NtsFieldType::Cookie))
            check.cookies.append(field.body);
    }
    return check;
}

} // namespace ostrelle
