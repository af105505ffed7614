#include "platform/fakes/fakeudpchannel.h"

namespace ostrelle {

void FakeUdpChannel::close()
{
    isOpen = false;
    m_readyPending = false;
}

void FakeUdpChannel::setRemoteHost(const QString& host, quint16 port)
{
    remoteHost = host;
    remotePort = port;
}

void FakeUdpChannel::connectToRemote()
{
    connectedHosts.append(remoteHost);
    isOpen = true;
    m_readyPending = readiness != Readiness::Never;
    if (readiness == Readiness::AtOnce)
        becomeReady();
}

bool FakeUdpChannel::send(const QByteArray& datagram)
{
    sent.append({remoteHost, remotePort, datagram});
    return sendSucceeds;
}

void FakeUdpChannel::becomeReady()
{
    if (!m_readyPending)
        return;
    m_readyPending = false;
    emit ready();
}

} // namespace ostrelle
