#include "ntp/ntpreply.h"

#include "servers/settings.h"
#include "timekeeping/ntpshort.h"
#include "timekeeping/ntptime.h"

#include <algorithm>
#include <cstring>

namespace ostrelle {

namespace {

constexpr int MaxUsableStratum = 15;

double timestampAt(const std::uint8_t (&field)[8])
{
    return NtpTimestampToSeconds(std::span<const std::uint8_t, 8>(field));
}

} // namespace

ParsedReply ParseNtpReply(const QByteArray& datagram, const NtpTimestampBytes& nonce)
{
    ParsedReply parsed;

    // Every field read lies in the first 48 octets; anything shorter is not an NTP header.
    if (static_cast<std::size_t>(datagram.size()) < NtpPacketSize) {
        parsed.check = ReplyCheck::TooShort;
        return parsed;
    }
    NtpWirePacket packet;
    std::memcpy(&packet, datagram.constData(), NtpPacketSize);

    // Only a server answers a client request; symmetric, broadcast and control packets (or our
    // own request reflected back) say nothing about this exchange.
    if ((packet.liVnMode & 0x07) != NtpModeServer) {
        parsed.check = ReplyCheck::NotServerMode;
        return parsed;
    }

    // A server echoes our transmit field as its originate. Any other value, zero included,
    // answers an earlier request or comes from someone who never saw ours: taking it would let
    // a blind sender step the clock.
    const bool zero = std::all_of(std::begin(packet.originateTime), std::end(packet.originateTime),
                                  [](std::uint8_t octet) { return octet == 0; });
    if (zero || std::memcmp(packet.originateTime, nonce.data(), nonce.size()) != 0) {
        parsed.check = ReplyCheck::StaleOriginate;
        return parsed;
    }

    NtpReply& reply = parsed.reply;
    reply.leap = packet.liVnMode >> 6;
    reply.version = (packet.liVnMode >> 3) & 0x07;
    reply.stratum = packet.stratum;
    reply.precisionSeconds = NtpPrecisionSeconds(packet.precision);
    reply.rootDelaySeconds = NtpShortSignedSeconds(std::span<const std::uint8_t, 4>(packet.rootDelay));
    reply.rootDispersionSeconds =
        NtpShortUnsignedSeconds(std::span<const std::uint8_t, 4>(packet.rootDispersion));
    std::copy(std::begin(packet.referenceId), std::end(packet.referenceId), reply.referenceId.begin());
    reply.referenceTime = timestampAt(packet.referenceTime);
    reply.receiveTime = timestampAt(packet.receiveTime);
    reply.transmitTime = timestampAt(packet.transmitTime);
    return parsed;
}

ServerReading EvaluateNtpReply(const NtpReply& reply, double T1, double T4, const Settings& settings)
{
    // The wire only carries seconds within an era; zero means "unknown" and stays zero.
    const auto placed = [T4](double eraSeconds) {
        return eraSeconds == 0.0 ? 0.0 : PlaceInNearestEra(eraSeconds, T4);
    };
    const double T2 = placed(reply.receiveTime);
    const double T3 = placed(reply.transmitTime);

    ServerReading r;
    r.leap = reply.leap;
    r.version = reply.version;
    r.stratum = reply.stratum;
    r.referenceId = reply.referenceId;
    r.precisionSeconds = reply.precisionSeconds;
    r.rootDelaySeconds = reply.rootDelaySeconds;
    r.rootDispersionSeconds = reply.rootDispersionSeconds;
    r.receivedAt = T4;
    r.stratumLimit = settings.stratumLimit;
    r.referenceAgeLimitSeconds = settings.referenceAgeLimitSeconds;
    r.referenceTime = placed(reply.referenceTime);
    r.roundTripSeconds = (T4 - T1) - (T3 - T2);
    r.offsetSeconds = ((T2 - T1) + (T3 - T4)) / 2.0;
    // Without the server's receive and transmit times the differences are decades, not delays.
    r.hasTimestamps = reply.receiveTime != 0.0 && reply.transmitTime != 0.0;
    r.referenceAgeSeconds = r.referenceTime == 0.0 ? 0.0 : T3 - r.referenceTime;

    if (reply.leap == 1 || reply.leap == 2)
        r.problems |= ServerProblem::LeapAnnounced;
    if (reply.leap == 3 || reply.stratum > MaxUsableStratum)
        r.problems |= ServerProblem::Unsynchronised;
    if (reply.stratum == 0)
        r.problems |= ServerProblem::KissOfDeath;
    if (reply.stratum > settings.stratumLimit)
        r.problems |= ServerProblem::StratumAboveLimit;
    // A server that was never synchronised has no reference time, which is as stale as it gets.
    if (r.referenceTime == 0.0 || r.referenceAgeSeconds > settings.referenceAgeLimitSeconds)
        r.problems |= ServerProblem::ReferenceTooOld;
    if (!r.hasTimestamps)
        r.problems |= ServerProblem::NoTimestamps;

    // A kiss-o'-death, an unsynchronised server or a missing timestamp may never set the clock.
    r.usableAsSource =
        reply.leap == 0 && reply.stratum >= 1 && reply.stratum <= MaxUsableStratum && r.hasTimestamps;
    return r;
}

} // namespace ostrelle
