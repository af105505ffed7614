#pragma once

#include "platform/udpchannel.h"

#include <QList>
#include <QString>

namespace ostrelle {

// A channel without a network: it records what the poll cycle does with it, and the test plays
// the network by emitting its signals.
class FakeUdpChannel final : public UdpChannel
{
    Q_OBJECT
public:
    enum class Readiness {
        AtOnce,   // ready() from inside connectToRemote(), as for an address literal
        OnDemand, // ready() only when the test calls becomeReady(), as after a slow lookup
        Never,    // no ready() at all, as for a name that does not resolve
    };

    struct Sent
    {
        QString host;
        quint16 port = 0;
        QByteArray datagram;
    };

    using UdpChannel::UdpChannel;

    void close() override;
    void setRemoteHost(const QString& host, quint16 port = 0) override;
    void connectToRemote() override;
    bool send(const QByteArray& datagram) override;
    using UdpChannel::send;

    // Emits ready() for the pending connect, if there is one.
    void becomeReady();
    void deliver(const QByteArray& datagram, ReceiveTime kernelTime = {})
    {
        emit datagramArrived(datagram, kernelTime);
    }
    void fail(const QString& description) { emit errorOccurred(description); }

    Readiness readiness = Readiness::AtOnce;
    bool sendSucceeds = true;

    QString remoteHost;
    quint16 remotePort = 0;
    QStringList connectedHosts; // the remote host at each connectToRemote()
    QList<Sent> sent;           // every send() attempt, failed or not
    // Between connectToRemote() and close(), as a real socket would be.
    bool isOpen = false;

private:
    bool m_readyPending = false;
};

} // namespace ostrelle
