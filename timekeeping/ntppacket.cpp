#include "timekeeping/ntppacket.h"

#include "timekeeping/ntptime.h"

#include <algorithm>
#include <bit>

namespace ostrelle {

NtpPacketBytes BuildNtpRequest(const Clock& clock, double& RequestSendTime)
{
    NtpWirePacket packet{};
    packet.liVnMode = static_cast<std::uint8_t>(NtpVersion << 3 | NtpModeClient); // leap indicator 0
    std::fill(std::begin(packet.referenceId), std::end(packet.referenceId), std::uint8_t{0x20});

    const double sendTime = NowNtpSeconds(clock);
    const std::array<std::uint8_t, 8> stamp = SecondsToNtpTimestamp(sendTime);
    std::copy(stamp.begin(), stamp.end(), packet.originateTime);
    // Servers copy our transmit field into the originate field of their reply.
    std::copy(stamp.begin(), stamp.end(), packet.transmitTime);

    // What the reply will echo is the encoded stamp (fraction truncated, seconds within an era),
    // so that is what the reply is matched against.
    RequestSendTime = PlaceInNearestEra(NtpTimestampToSeconds(stamp), sendTime);
    return std::bit_cast<NtpPacketBytes>(packet);
}

} // namespace ostrelle
