#pragma once

#include "timekeeping/ntppacket.h"
#include "timekeeping/ntptime.h"

#include <QByteArray>
#include <algorithm>
#include <array>
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
};

inline Timestamp wireTimestamp(double t)
{
    return t == 0.0 ? Timestamp{} : SecondsToNtpTimestamp(t);
}

// The transmit field of a request, which a server echoes as its originate.
inline Timestamp transmitOf(const QByteArray& request)
{
    Timestamp stamp{};
    std::memcpy(stamp.data(), request.constData() + offsetof(NtpWirePacket, transmitTime), stamp.size());
    return stamp;
}

inline QByteArray encode(const ServerReply& reply)
{
    NtpWirePacket packet{};
    packet.liVnMode = static_cast<std::uint8_t>(reply.leap << 6 | reply.version << 3 | reply.mode);
    packet.stratum = static_cast<std::uint8_t>(reply.stratum);
    std::copy(reply.referenceId.begin(), reply.referenceId.end(), packet.referenceId);
    const auto put = [](std::uint8_t(&field)[8], const Timestamp& stamp) {
        std::copy(stamp.begin(), stamp.end(), field);
    };
    put(packet.referenceTime, wireTimestamp(reply.referenceTime));
    put(packet.originateTime, reply.originate);
    put(packet.receiveTime, wireTimestamp(reply.receiveTime));
    put(packet.transmitTime, wireTimestamp(reply.transmitTime));
    return QByteArray(reinterpret_cast<const char*>(&packet), sizeof packet);
}

} // namespace ostrelle::test
