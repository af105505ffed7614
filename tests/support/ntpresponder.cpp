#include "tests/support/ntpresponder.h"

#include "timekeeping/ntptime.h"

#include <QDateTime>
#include <algorithm>

namespace ostrelle {

namespace {

constexpr qint64 MaxDatagramSize = 65536;
constexpr double UnixEpochInNtpSeconds = 2208988800.0; // 1970-01-01 00:00:00 UTC

void putTimestamp(QByteArray& packet, int offset, double t)
{
    const std::array<std::uint8_t, 8> bytes = SecondsToNtpTimestamp(t);
    std::copy(bytes.begin(), bytes.end(), packet.begin() + offset);
}

} // namespace

QByteArray BuildNtpReply(const QByteArray& request, const NtpReplyFields& fields, double now)
{
    QByteArray reply(static_cast<qsizetype>(NtpPacketSize), '\0');
    reply[0] =
        static_cast<char>((fields.leap & 0x3) << 6 | (fields.version & 0x7) << 3 | (fields.mode & 0x7));
    reply[1] = static_cast<char>(fields.stratum);
    reply[2] = static_cast<char>(6);   // poll: 64 s
    reply[3] = static_cast<char>(-20); // precision: about a microsecond
    for (int i = 0; i < 4; ++i)
        reply[12 + i] = static_cast<char>(fields.referenceId[static_cast<std::size_t>(i)]);

    const double received = now + fields.offset;
    putTimestamp(reply, 16, fields.referenceTime.value_or(received - fields.referenceAge));
    // The request's transmit field, octet for octet, as a server does: nothing lost in conversion.
    constexpr int TransmitOffset = 40;
    for (int i = 0; i < 8 && TransmitOffset + i < request.size(); ++i)
        reply[24 + i] = request[TransmitOffset + i];
    putTimestamp(reply, 32, received);
    putTimestamp(reply, 40, received + fields.holdTime);
    return reply;
}

NtpResponder::NtpResponder(const QHostAddress& address, quint16 port, QObject* parent)
    : QObject(parent), m_socket(this)
{
    if (m_socket.bind(address, port, QAbstractSocket::DontShareAddress))
        connect(&m_socket, &QUdpSocket::readyRead, this, &NtpResponder::readRequests);
}

bool NtpResponder::sendTo(const QByteArray& datagram, const QHostAddress& address, quint16 port)
{
    return m_socket.writeDatagram(datagram, address, port) == datagram.size();
}

double NtpResponder::realNow()
{
    return UnixEpochInNtpSeconds + static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

void NtpResponder::readRequests()
{
    QByteArray buffer(MaxDatagramSize, Qt::Uninitialized);
    for (;;) {
        QHostAddress peer;
        quint16 peerPort = 0;
        const qint64 size = m_socket.readDatagram(buffer.data(), buffer.size(), &peer, &peerPort);
        if (size < 0)
            return;
        const QByteArray request = buffer.left(size);
        ++m_requestCount;
        m_lastRequest = request;
        m_lastPeerAddress = peer;
        m_lastPeerPort = peerPort;
        emit requestReceived(request);

        if (silent)
            continue;
        const QByteArray reply =
            customReply ? *customReply : BuildNtpReply(request, fields, now ? now() : realNow());
        if (m_socket.writeDatagram(reply, peer, peerPort) == reply.size())
            emit replied(reply);
    }
}

} // namespace ostrelle
