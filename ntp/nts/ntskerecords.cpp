#include "ntp/nts/ntskerecords.h"

#include <QtEndian>
#include <algorithm>

namespace ostrelle {

namespace {

constexpr std::uint16_t CriticalBit = 0x8000;
constexpr qsizetype RecordHeaderSize = 4;

void appendUint16(QByteArray& out, std::uint16_t value)
{
    out.append(static_cast<char>(value >> 8));
    out.append(static_cast<char>(value & 0xff));
}

std::uint16_t readUint16(const char* p)
{
    return qFromBigEndian<std::uint16_t>(p);
}

void appendRecord(QByteArray& out, NtsKeRecordType type, bool critical, const QByteArray& body)
{
    appendUint16(out, static_cast<std::uint16_t>(type) | (critical ? CriticalBit : 0));
    appendUint16(out, static_cast<std::uint16_t>(body.size()));
    out.append(body);
}

QByteArray uint16Body(std::uint16_t value)
{
    QByteArray body;
    appendUint16(body, value);
    return body;
}

QString errorText(std::uint16_t code)
{
    switch (code) {
    case 0:
        return QStringLiteral("unrecognized critical record");
    case 1:
        return QStringLiteral("bad request");
    case 2:
        return QStringLiteral("internal server error");
    default:
        return QStringLiteral("error %1").arg(code);
    }
}

NtsKeResponse refused(const QString& reason)
{
    NtsKeResponse response;
    response.status = NtsKeResponse::Status::Refused;
    response.reason = reason;
    return response;
}

} // namespace

QByteArray EncodeNtsKeRequest()
{
    QByteArray request;
    appendRecord(request, NtsKeRecordType::NextProtocol, true, uint16Body(NtsProtocolNtpV4));
    appendRecord(request, NtsKeRecordType::AeadAlgorithm, true, uint16Body(NtsAeadAesSivCmac256));
    appendRecord(request, NtsKeRecordType::EndOfMessage, true, {});
    return request;
}

NtsKeResponse DecodeNtsKeResponse(const QByteArray& bytes)
{
    NtsKeResponse response;
    bool sawProtocol = false;
    bool sawAead = false;
    qsizetype at = 0;
    while (true) {
        if (bytes.size() - at < RecordHeaderSize)
            return response; // Incomplete: the rest of the header is still on its way
        const std::uint16_t typeField = readUint16(bytes.constData() + at);
        const std::uint16_t length = readUint16(bytes.constData() + at + 2);
        if (bytes.size() - at - RecordHeaderSize < length)
            return response;
        const QByteArray body = bytes.mid(at + RecordHeaderSize, length);
        at += RecordHeaderSize + length;
        const bool critical = (typeField & CriticalBit) != 0;
        const auto type = static_cast<NtsKeRecordType>(typeField & ~CriticalBit);
        switch (type) {
        case NtsKeRecordType::EndOfMessage:
            if (length != 0)
                return refused(QStringLiteral("malformed end of message"));
            // Without these three the server has given us nothing to run NTS with.
            if (!sawProtocol)
                return refused(QStringLiteral("no next protocol"));
            if (!sawAead)
                return refused(QStringLiteral("no AEAD algorithm"));
            if (response.cookies.isEmpty())
                return refused(QStringLiteral("no cookie"));
            response.status = NtsKeResponse::Status::Complete;
            return response;
        case NtsKeRecordType::NextProtocol:
            // The server picks exactly one of the protocols we offered, and we offered only NTPv4.
            if (sawProtocol || length != 2 || readUint16(body.constData()) != NtsProtocolNtpV4)
                return refused(QStringLiteral("next protocol not NTPv4"));
            sawProtocol = true;
            break;
        case NtsKeRecordType::AeadAlgorithm:
            if (sawAead || length != 2 || readUint16(body.constData()) != NtsAeadAesSivCmac256)
                return refused(QStringLiteral("AEAD algorithm not AES-SIV-CMAC-256"));
            sawAead = true;
            break;
        case NtsKeRecordType::Error:
            if (length != 2)
                return refused(QStringLiteral("malformed error record"));
            return refused(errorText(readUint16(body.constData())));
        case NtsKeRecordType::Warning:
            // No warning codes are defined, and one we do not know counts as an error.
            if (length != 2)
                return refused(QStringLiteral("malformed warning record"));
            return refused(QStringLiteral("warning %1").arg(readUint16(body.constData())));
        case NtsKeRecordType::NewCookie:
            if (length == 0)
                return refused(QStringLiteral("empty cookie"));
            response.cookies.append(body);
            break;
        case NtsKeRecordType::NtpServer: {
            const QString name = QString::fromLatin1(body);
            const bool printable =
                std::all_of(body.cbegin(), body.cend(), [](char c) { return c > ' ' && c < 0x7f; });
            if (body.isEmpty() || !printable)
                return refused(QStringLiteral("malformed server record"));
            response.ntpServer = name;
            break;
        }
        case NtsKeRecordType::NtpPort:
            if (length != 2 || readUint16(body.constData()) == 0)
                return refused(QStringLiteral("malformed port record"));
            response.ntpPort = readUint16(body.constData());
            break;
        default:
            if (critical)
                return refused(QStringLiteral("unknown critical record %1").arg(typeField & ~CriticalBit));
            break;
        }
    }
}

} // namespace ostrelle
