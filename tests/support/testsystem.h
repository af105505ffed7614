#pragma once

namespace ostrelle {

class NativeUdpChannel;

// Whether the tests run under Wine, which lacks some of what Windows does: it never reports an ICMP
// refusal on a connected UDP socket, and stamps no datagram with its arrival.
bool RunningUnderWine();

// Whether this process could move the machine's real clock, so that a test that tries to set it
// must not run: CAP_SYS_TIME in the effective set on Linux and, under Wine, in that of the Linux
// process Wine runs in (Wine hands a step to Linux); on Windows, the time privilege in the token.
bool MayMoveRealClock();

// Waits until the channel has taken in the ICMP refusal its last request drew (at most timeoutMs);
// under Wine, which never reports one, only long enough for it to have reached the socket on
// loopback. False when the refusal did not show, or something else did.
[[nodiscard]] bool WaitForPortUnreachable(const NativeUdpChannel& channel, int timeoutMs);

} // namespace ostrelle
