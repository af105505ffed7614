#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ostrelle {

// The 48-octet NTP header as it travels. Every field is an array of octets, so the layout has no
// padding and byte order is handled only by the timestamp conversions in ntptime.h.
struct NtpWirePacket
{
    std::uint8_t liVnMode;
    std::uint8_t stratum;
    std::uint8_t poll;
    std::uint8_t precision;
    std::uint8_t rootDelay[4];
    std::uint8_t rootDispersion[4];
    std::uint8_t referenceId[4];
    std::uint8_t referenceTime[8];
    std::uint8_t originateTime[8];
    std::uint8_t receiveTime[8];
    std::uint8_t transmitTime[8];
};

static_assert(offsetof(NtpWirePacket, liVnMode) == 0);
static_assert(offsetof(NtpWirePacket, stratum) == 1);
static_assert(offsetof(NtpWirePacket, poll) == 2);
static_assert(offsetof(NtpWirePacket, precision) == 3);
static_assert(offsetof(NtpWirePacket, rootDelay) == 4);
static_assert(offsetof(NtpWirePacket, rootDispersion) == 8);
static_assert(offsetof(NtpWirePacket, referenceId) == 12);
static_assert(offsetof(NtpWirePacket, referenceTime) == 16);
static_assert(offsetof(NtpWirePacket, originateTime) == 24);
static_assert(offsetof(NtpWirePacket, receiveTime) == 32);
static_assert(offsetof(NtpWirePacket, transmitTime) == 40);
static_assert(sizeof(NtpWirePacket) == 48);

inline constexpr std::size_t NtpPacketSize = sizeof(NtpWirePacket);
using NtpPacketBytes = std::array<std::uint8_t, NtpPacketSize>;

inline constexpr std::uint8_t NtpModeClient = 3;
inline constexpr std::uint8_t NtpModeServer = 4;
inline constexpr std::uint8_t NtpVersion = 4;

using NtpTimestampBytes = std::array<std::uint8_t, 8>;

// 64 bits from the system's cryptographic source, never all zero: the transmit field of a request,
// which the server echoes as its originate. An off-path sender cannot guess it, as it could guess
// the send time.
NtpTimestampBytes RandomRequestNonce();

// The 48-octet client request (leap 0, version 4, mode 3) carrying nonce in the transmit field;
// the originate field is zero, so the send time never leaves the machine.
NtpPacketBytes BuildNtpRequest(const NtpTimestampBytes& nonce);

} // namespace ostrelle
