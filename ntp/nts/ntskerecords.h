#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

namespace ostrelle {

// Record types of the NTS key exchange; the high bit of a record's type field is its critical bit.
enum class NtsKeRecordType : std::uint16_t {
    EndOfMessage = 0,
    NextProtocol = 1,
    Error = 2,
    Warning = 3,
    AeadAlgorithm = 4,
    NewCookie = 5,
    NtpServer = 6,
    NtpPort = 7,
};

inline constexpr std::uint16_t NtsProtocolNtpV4 = 0;
inline constexpr std::uint16_t NtsAeadAesSivCmac256 = 15;

// The client's request: NTPv4 as next protocol, AEAD_AES_SIV_CMAC_256, end of message.
QByteArray EncodeNtsKeRequest();

// What a server's response said, once its end-of-message record has arrived.
struct NtsKeResponse
{
    enum class Status { Complete, Incomplete, Refused };

    Status status = Status::Incomplete;
    QString reason; // why it was refused, for the operator ("unknown critical record 9", ...)
    QList<QByteArray> cookies;
    QString ntpServer; // empty when the server did not name one
    int ntpPort = -1;  // -1 when the server did not name one

    bool complete() const { return status == Status::Complete; }
};

// Decodes the records received so far. Incomplete while the end-of-message record has not
// arrived; Refused on a malformed record, an error or unknown warning record, an unknown critical
// record or a missing protocol, algorithm or cookie. Never reads beyond the bytes given.
NtsKeResponse DecodeNtsKeResponse(const QByteArray& bytes);

} // namespace ostrelle
