#pragma once

#include "platform/clock.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <optional>

namespace ostrelle {

// When the kernel took a datagram in; empty where the platform gives no such stamp.
using ReceiveTime = std::optional<std::chrono::system_clock::time_point>;

// The UDP socket the poll cycle talks through: one remote host at a time, one datagram out per
// request. Behind an interface so that tests drive the cycle without a network.
class UdpChannel : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~UdpChannel() override = default;

    // Drops the socket and any name lookup in progress; nothing more arrives for the old remote.
    virtual void close() = 0;
    // The next request's remote: host, and port (0: the channel's usual NTP port).
    virtual void setRemoteHost(const QString& host, quint16 port = 0) = 0;
    // Starts resolving the remote host without blocking. ready() follows once a datagram can be
    // sent to it (possibly before this returns); a host that cannot be reached gives no signal.
    virtual void connectToRemote() = 0;
    // Sends one datagram to the connected remote; false when it could not be sent.
    virtual bool send(const QByteArray& datagram) = 0;
    // Sends like send(), reading clock into sentAt as the last thing before the datagram is
    // handed to the system, so that none of the sender's own work counts as network delay.
    virtual bool send(const QByteArray& datagram, const Clock& clock,
                      std::chrono::system_clock::time_point& sentAt)
    {
        sentAt = clock.now();
        return send(datagram);
    }

signals:
    void ready();
    void datagramArrived(const QByteArray& datagram, ostrelle::ReceiveTime kernelTime);
    // The socket itself has become unusable (not just one unreachable server).
    void errorOccurred(const QString& description);
};

} // namespace ostrelle
