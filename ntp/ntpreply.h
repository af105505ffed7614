#pragma once

#include "timekeeping/ntppacket.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

namespace ostrelle {

struct Settings;

// Why a datagram was not taken as the answer to our request.
enum class ReplyCheck {
    Accepted,
    TooShort,       // fewer than 48 octets
    NotServerMode,  // mode other than 4
    StaleOriginate, // originate neither zero nor our request's transmit timestamp
};

// The fields of an accepted reply as they came off the wire; timestamps are era-0 NtpSeconds,
// 0 where the server left the field zero.
struct NtpReply
{
    int leap = 0;
    int version = 0;
    int stratum = 0;
    std::array<std::uint8_t, 4> referenceId{};
    double referenceTime = 0.0;
    double originateTime = 0.0;
    double receiveTime = 0.0;
    double transmitTime = 0.0;
};

struct ParsedReply
{
    ReplyCheck check = ReplyCheck::Accepted;
    NtpReply reply; // meaningful only when check is Accepted

    bool accepted() const { return check == ReplyCheck::Accepted; }
};

// The decoded reply when the datagram answers request, otherwise the first check it failed.
ParsedReply ParseNtpReply(const QByteArray& datagram, const NtpPacketBytes& request);

// What one reply puts into its row, and what it offers as the clock source.
struct ReplyEvaluation
{
    QString status;
    QString version;
    QString stratum;
    QString reference;
    QString referenceTime;
    QString roundTrip;
    QString offset;

    bool marked = false;
    bool candidate = false;
    double roundTripSeconds = 0.0;
    double offsetSeconds = 0.0; // positive when the local clock is behind the server
};

// Evaluates an accepted reply that arrived at T4 (NtpSeconds) for a request stamped
// requestSendTime (NtpSeconds), against the highlight thresholds of settings.
ReplyEvaluation EvaluateNtpReply(const NtpReply& reply, double T4, double requestSendTime,
                                 const Settings& settings);

// The status text for a leap indicator: "OK", "LEAP" or "NO SYNC".
QString LeapStatusText(int leap);

// The reference identifier as shown: up to four octets, trailing zero octets dropped, "?" for an
// octet that is not a printable character.
QString ReferenceIdText(const std::array<std::uint8_t, 4>& id);

// Seconds as "0.000": three decimals, the default locale's separator, no grouping, and no minus
// sign on a value that rounds to zero.
QString SecondsText(double seconds);

} // namespace ostrelle
