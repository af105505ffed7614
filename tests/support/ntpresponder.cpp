#include "tests/support/ntpresponder.h"

#include "timekeeping/ntptime.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <algorithm>

namespace ostrelle {

QByteArray BuildNtpReply(const QByteArray& request, const NtpReplyFields& fields, double now)
{
    const auto put = [](auto& field, double t) { std::ranges::copy(SecondsToNtpTimestamp(t), field); };
    NtpWirePacket reply{};
    reply.liVnMode =
        static_cast<std::uint8_t>((fields.leap & 3) << 6 | (fields.version & 7) << 3 | (fields.mode & 7));
    reply.stratum = fields.stratum;
    reply.poll = 6;                                   // 64 s
    reply.precision = static_cast<std::uint8_t>(-20); // about a microsecond
    std::ranges::copy(fields.referenceId, reply.referenceId);
    const double received = now + fields.offset;
    put(reply.referenceTime, fields.referenceTime.value_or(received - fields.referenceAge));
    // The request's transmit field, octet for octet, as a server does: nothing lost in conversion.
    std::ranges::copy(request.mid(offsetof(NtpWirePacket, transmitTime), 8), reply.originateTime);
    put(reply.receiveTime, received);
    put(reply.transmitTime, received + fields.holdTime);
    return QByteArray(reinterpret_cast<const char*>(&reply), sizeof reply);
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
    // To the nanosecond: a responder read to the millisecond would be up to half a millisecond off
    // true time, which sub-millisecond loopback intervals would then count as disagreement.
    return ToNtpSeconds(std::chrono::system_clock::now());
}

void NtpResponder::readRequests()
{
    for (;;) {
        // A sized read, larger than any UDP payload: it never cuts a datagram short.
        const QNetworkDatagram request = m_socket.receiveDatagram(65536);
        if (!request.isValid())
            return;
        ++m_requestCount;
        m_lastRequest = request.data();
        m_lastPeerAddress = request.senderAddress();
        m_lastPeerPort = static_cast<quint16>(request.senderPort());
        emit requestReceived(m_lastRequest);
        if (silent)
            continue;
        const QByteArray reply =
            customReply ? *customReply : BuildNtpReply(m_lastRequest, fields, now ? now() : realNow());
        if (m_socket.writeDatagram(reply, m_lastPeerAddress, m_lastPeerPort) == reply.size())
            emit replied(reply);
    }
}

} // namespace ostrelle
