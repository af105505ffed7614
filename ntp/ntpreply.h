#pragma once

#include "servers/serverrecord.h"
#include "timekeeping/ntppacket.h"

#include <QByteArray>
#include <array>
#include <cstdint>

namespace ostrelle {

struct Settings;

// Why a datagram was not taken as the answer to our request.
enum class ReplyCheck {
    Accepted,
    TooShort,       // fewer than 48 octets
    NotServerMode,  // mode other than 4
    StaleOriginate, // originate is not our request's transmit field, octet for octet (zero included)
};

// The fields of an accepted reply as they came off the wire; timestamps are era-0 NtpSeconds,
// 0 where the server left the field zero.
struct NtpReply
{
    int leap = 0;
    int version = 0;
    int stratum = 0;
    std::array<std::uint8_t, 4> referenceId{};
    double referenceTime = 0.0;
    double receiveTime = 0.0;
    double transmitTime = 0.0;
    double precisionSeconds = 0.0;      // the server's clock reading step
    double rootDelaySeconds = 0.0;      // round trip to the reference, may be negative
    double rootDispersionSeconds = 0.0; // the server's error bound against its reference
};

struct ParsedReply
{
    ReplyCheck check = ReplyCheck::Accepted;
    NtpReply reply; // meaningful only when check is Accepted

    bool accepted() const { return check == ReplyCheck::Accepted; }
};

// The decoded reply when the datagram answers the request whose transmit field was nonce,
// otherwise the first check it failed.
ParsedReply ParseNtpReply(const QByteArray& datagram, const NtpTimestampBytes& nonce);

// The numbers and flags of an accepted reply sent for a request that left at T1 and arriving at
// T4 (both NtpSeconds from our clock), judged against the operator's limits in settings.
ServerReading EvaluateNtpReply(const NtpReply& reply, double T1, double T4, const Settings& settings);

} // namespace ostrelle
