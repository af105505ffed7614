#pragma once

#include "timekeeping/ntppacket.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

namespace ostrelle {

class AesSivCmac256;

// Extension field types that carry NTS in an NTPv4 packet.
enum class NtsFieldType : std::uint16_t {
    UniqueIdentifier = 0x0104,
    Cookie = 0x0204,
    CookiePlaceholder = 0x0304,
    Authenticator = 0x0404,
};

inline constexpr qsizetype NtsUniqueIdentifierSize = 32;
inline constexpr qsizetype NtsNonceSize = 16;
// Cookies a client keeps in hand, so that a few lost replies do not force a new key exchange.
inline constexpr int NtsCookiesToKeep = 8;

// One extension field as found in a packet: where it starts (octets from the packet's start),
// its type and its body without the 4-octet header.
struct NtpExtensionField
{
    qsizetype offset = 0;
    std::uint16_t type = 0;
    QByteArray body;
};

// The extension fields from offset on, in order; false when one is malformed (shorter than its
// header, not a multiple of 4 octets long, or running past the end).
[[nodiscard]] bool ParseNtpExtensionFields(const QByteArray& packet, qsizetype offset,
                                           QList<NtpExtensionField>& fields);

// Appends one field, its body padded with zero octets to a multiple of 4 and to at least 16 octets
// in all.
void AppendNtpExtensionField(QByteArray& packet, NtsFieldType type, const QByteArray& body);

// Appends the authenticator: nonce and the encryption of plaintext (extension fields), with
// everything in packet so far as associated data. False when the cipher refuses.
[[nodiscard]] bool AppendNtsAuthenticator(QByteArray& packet, const AesSivCmac256& cipher,
                                          const QByteArray& nonce, const QByteArray& plaintext);

// The authenticated request: header, unique identifier, cookie, placeholders for cookies that
// the reply should bring beside the one it replaces, and the authenticator over all of them.
// Empty when the cipher refuses.
QByteArray BuildNtsRequest(const NtpPacketBytes& header, const QByteArray& uniqueIdentifier,
                           const QByteArray& cookie, int placeholders, const AesSivCmac256& c2s,
                           const QByteArray& nonce);

// Whether an NTS reply may be believed.
struct NtsReplyCheck
{
    enum class Result {
        Accepted,
        TooShort,             // fewer octets than an NTP header
        MalformedField,       // an extension field that cannot be parsed
        NoAuthenticator,      // nothing proves the reply came from the server
        AuthenticationFailed, // the authenticator does not verify with the server's key
        UniqueIdMismatch,     // it answers some other request
        Nak,                  // the server could not use our cookie: a new key exchange is due
    };

    Result result = Result::Accepted;
    QList<QByteArray> cookies; // the new cookies of an accepted reply

    bool accepted() const { return result == Result::Accepted; }
    // The row's reason for a refused reply, "NTS: ..."; empty when accepted.
    QString reason() const;
};

// Checks a reply against the unique identifier of our request and the server-to-client key.
NtsReplyCheck VerifyNtsReply(const QByteArray& datagram, const QByteArray& uniqueIdentifier,
                             const AesSivCmac256& s2c);

} // namespace ostrelle
