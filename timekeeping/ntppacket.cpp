#include "timekeeping/ntppacket.h"

#include <QRandomGenerator>
#include <algorithm>
#include <bit>

namespace ostrelle {

NtpTimestampBytes RandomRequestNonce()
{
    quint64 value = 0;
    // A zero transmit field is the one value a careless server could echo without reading ours.
    while (value == 0)
        value = QRandomGenerator::system()->generate64();
    NtpTimestampBytes nonce{};
    for (std::size_t i = 0; i < nonce.size(); ++i)
        nonce[i] = static_cast<std::uint8_t>(value >> (56 - 8 * i));
    return nonce;
}

NtpPacketBytes BuildNtpRequest(const NtpTimestampBytes& nonce)
{
    NtpWirePacket packet{};
    packet.liVnMode = static_cast<std::uint8_t>(NtpVersion << 3 | NtpModeClient); // leap indicator 0
    std::fill(std::begin(packet.referenceId), std::end(packet.referenceId), std::uint8_t{0x20});
    std::copy(nonce.begin(), nonce.end(), packet.transmitTime);
    return std::bit_cast<NtpPacketBytes>(packet);
}

} // namespace ostrelle
