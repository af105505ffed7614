#include "ntp/ntpreply.h"

#include "servers/settingsstore.h"
#include "timekeeping/ntptime.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace ostrelle {

namespace {

constexpr int MaxUsableStratum = 15;

double timestampAt(const std::uint8_t (&field)[8])
{
    return NtpTimestampToSeconds(std::span<const std::uint8_t, 8>(field));
}

bool isZero(const std::uint8_t (&field)[8])
{
    return std::all_of(std::begin(field), std::end(field), [](std::uint8_t octet) { return octet == 0; });
}

} // namespace

ParsedReply ParseNtpReply(const QByteArray& datagram, const NtpPacketBytes& request)
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

    // A server echoes our transmit timestamp as its originate. Any other value answers an
    // earlier request or was never an answer at all; zero is let through because some servers
    // leave the field empty, and the request's own stamp then stands in for it.
    NtpWirePacket sent;
    std::memcpy(&sent, request.data(), NtpPacketSize);
    if (!isZero(packet.originateTime) &&
        std::memcmp(packet.originateTime, sent.transmitTime, sizeof sent.transmitTime) != 0) {
        parsed.check = ReplyCheck::StaleOriginate;
        return parsed;
    }

    NtpReply& reply = parsed.reply;
    reply.leap = packet.liVnMode >> 6;
    reply.version = (packet.liVnMode >> 3) & 0x07;
    reply.stratum = packet.stratum;
    std::copy(std::begin(packet.referenceId), std::end(packet.referenceId), reply.referenceId.begin());
    reply.referenceTime = timestampAt(packet.referenceTime);
    reply.originateTime = timestampAt(packet.originateTime);
    reply.receiveTime = timestampAt(packet.receiveTime);
    reply.transmitTime = timestampAt(packet.transmitTime);
    return parsed;
}

ReplyEvaluation EvaluateNtpReply(const NtpReply& reply, double T4, double requestSendTime,
                                 const Settings& settings)
{
    // The wire only carries seconds within an era; zero means "unknown" and stays zero.
    const auto placed = [T4](double eraSeconds) {
        return eraSeconds == 0.0 ? 0.0 : PlaceInNearestEra(eraSeconds, T4);
    };
    const double T1 = reply.originateTime == 0.0 ? requestSendTime : placed(reply.originateTime);
    const double T2 = placed(reply.receiveTime);
    const double T3 = placed(reply.transmitTime);
    const double referenceTime = placed(reply.referenceTime);

    ReplyEvaluation result;
    result.roundTripSeconds = (T4 - T1) - (T3 - T2);
    result.offsetSeconds = ((T2 - T1) + (T3 - T4)) / 2.0;

    result.status = LeapStatusText(reply.leap);
    result.version = QString::number(reply.version);
    result.stratum = QString::number(reply.stratum);
    result.reference = reply.stratum <= 1 ? ReferenceIdText(reply.referenceId) : QStringLiteral("-");
    result.referenceTime = QStringLiteral("-");
    if (referenceTime != 0.0) {
        if (const std::optional<CalendarTime> calendar =
                NtpSecondsToDateTime(referenceTime, Rounding::Nearest))
            result.referenceTime = DateTimeText(*calendar);
    }
    // Without the server's receive and transmit times the differences are decades, not delays.
    const bool timed = reply.receiveTime != 0.0 && reply.transmitTime != 0.0;
    result.roundTrip = timed ? SecondsText(result.roundTripSeconds) : QStringLiteral("-");
    result.offset = timed ? SecondsText(result.offsetSeconds) : QStringLiteral("-");

    // Stratum 0 is a kiss-o'-death and above 15 is unsynchronised; a zero receive or transmit
    // timestamp leaves the offset meaningless. None of them may set the clock, whatever the leap.
    result.candidate = reply.leap == 0 && reply.stratum >= 1 && reply.stratum <= MaxUsableStratum && timed;

    // A server that was never synchronised has no reference time, which is as stale as it gets.
    const bool referenceTooOld = referenceTime == 0.0 || T3 - referenceTime > settings.RefTimeHighlight;
    result.marked =
        reply.leap != 0 || reply.stratum > settings.StratumHighlight || referenceTooOld || !result.candidate;
    return result;
}

QString LeapStatusText(int leap)
{
    switch (leap) {
    case 0:
        return QStringLiteral("OK");
    case 3:
        return QStringLiteral("NO SYNC");
    default:
        return QStringLiteral("LEAP");
    }
}

QString ReferenceIdText(const std::array<std::uint8_t, 4>& id)
{
    std::size_t length = id.size();
    while (length > 0 && id[length - 1] == 0)
        --length;
    QString text;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t octet = id[i];
        text.append(octet >= 0x20 && octet <= 0x7E ? QChar(octet) : QChar(u'?'));
    }
    return text;
}

QString SecondsText(double seconds)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    // A small negative value rounds to zero, and "-0.000" would suggest a direction there is not.
    if (locale.toString(std::abs(seconds), 'f', 3) == locale.toString(0.0, 'f', 3))
        seconds = 0.0;
    return locale.toString(seconds, 'f', 3);
}

} // namespace ostrelle
