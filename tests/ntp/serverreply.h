#pragma once

#include "timekeeping/ntppacket.h"
#include "timekeeping/ntptime.h"

#include <QByteArray>
#include <cstring>

namespace ostrelle::test {

using Timestamp = std::array<std::uint8_t, 8>;

// What a server puts on the wire. Times are NtpSeconds in any era (the wire keeps the seconds
// within the era); 0 leaves the field zero.
struct ServerReply
{
    int leap = 0;
    int version = 4;
    int mode = NtpModeServer;
    int stratum = 1;
    std::array<std::uint8_t, 4> referenceId{'G', 'P', 'S', 0};
    double referenceTime = 0.0;
    Timestamp originate{};
    double receiveTime = 0.0;
    double transmitTime = 0.0;
    std::uint8_t precision = 0; // a signed power of two
    std::array<std::uint8_t, 4> rootDelay{};
    std::array<std::uint8_t, 4> rootDispersion{};
};

// The transmit field of a request, which a server echoes as its originate.
inline Timestamp transmitOf(const QByteArray& request)
{
    Timestamp stamp{};
    std::memcpy(stamp.data(), request.constData() + offsetof(NtpWirePacket, transmitTime), stamp.size());
    return stamp;
}

inline QByteArray encode(const ServerReply& reply)
{
    const auto put = [](std::uint8_t(&field)[8], double t) {
        const Timestamp stamp = t == 0.0 ? Timestamp{} : SecondsToNtpTimestamp(t);
        std::memcpy(field, stamp.data(), stamp.size());
    };
    NtpWirePacket packet{};
    packet.liVnMode = static_cast<std::uint8_t>(reply.leap << 6 | reply.version << 3 | reply.mode);
    packet.stratum = static_cast<std::uint8_t>(reply.stratum);
    packet.precision = reply.precision;
    std::memcpy(packet.rootDelay, reply.rootDelay.data(), sizeof packet.rootDelay);
    std::memcpy(packet.rootDispersion, reply.rootDispersion.data(), sizeof packet.rootDispersion);
    std::memcpy(packet.referenceId, reply.referenceId.data(), sizeof packet.referenceId);
    put(packet.referenceTime, reply.referenceTime);
    std::memcpy(packet.originateTime, reply.originate.data(), sizeof packet.originateTime);
    put(packet.receiveTime, reply.receiveTime);
    put(packet.transmitTime, reply.transmitTime);
    return QByteArray(reinterpret_cast<const char*>(&packet), sizeof packet);
}

} // namespace ostrelle::test
