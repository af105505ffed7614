#pragma once

namespace ostrelle {

class NativeUdpChannel;

// Whether the tests run under Wine, which lacks some of what Windows does: it stamps no datagram
// with its arrival, stops watching a UDP socket once an ICMP refusal has reached it, and binds a
// datagram socket asked for a loopback address other than 127.0.0.1 to every address.
bool RunningUnderWine();

// Whether this process could move the machine's real clock, so that a test that tries to set it
// must not run: CAP_SYS_TIME in the effective set on Linux and, under Wine, in that of the Linux
// process Wine runs in (Wine hands a step to Linux); on Windows, the time privilege in the token.
bool MayMoveRealClock();

// Waits until the channel has taken in the ICMP refusal its last request drew (at most timeoutMs).
// False when the refusal did not show, or something else did.
[[nodiscard]] bool WaitForPortUnreachable(const NativeUdpChannel& channel, int timeoutMs);

} // namespace ostrelle
