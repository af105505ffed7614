#pragma once

#include <cmath>
#include <cstdint>
#include <span>

namespace ostrelle {

// Seconds of an unsigned NTP short (16.16 fixed point, big-endian), as in the root dispersion;
// 0 to 65536 - 2^-16.
inline double NtpShortUnsignedSeconds(std::span<const std::uint8_t, 4> bytes)
{
    const std::uint32_t raw = std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                              std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
    return std::ldexp(static_cast<double>(raw), -16);
}

// Seconds of a signed NTP short (two's complement 16.16, big-endian), as in the root delay;
// -32768 to 32768 - 2^-16.
inline double NtpShortSignedSeconds(std::span<const std::uint8_t, 4> bytes)
{
    const std::uint32_t raw = std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                              std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
    return std::ldexp(static_cast<double>(static_cast<std::int32_t>(raw)), -16);
}

// Seconds of the precision octet, a signed power of two (0xEC = -20 gives about 0.95 us).
inline double NtpPrecisionSeconds(std::uint8_t octet)
{
    return std::ldexp(1.0, static_cast<std::int8_t>(octet));
}

} // namespace ostrelle
