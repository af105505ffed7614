#include "ntp/serverexchange.h"

#include "ntp/arrivaltime.h"
#include "ntp/ntpreply.h"
#include "ntp/nts/ntssessions.h"
#include "platform/clock.h"
#include "platform/hostresolver.h"

namespace ostrelle {

QList<QHostAddress> PollableAddresses(const QList<QHostAddress>& addresses)
{
    QList<QHostAddress> usable;
    for (const QHostAddress& address : addresses) {
        const auto family = address.protocol();
        if ((family == QAbstractSocket::IPv4Protocol || family == QAbstractSocket::IPv6Protocol) &&
            !usable.contains(address))
            usable.append(address);
    }
    return usable;
}

QHostAddress ChooseAddress(const QList<QHostAddress>& addresses, const AddressChoice& choice)
{
    const QList<QHostAddress> usable = PollableAddresses(addresses);
    if (usable.isEmpty())
        return {};
    // The resolver's order is the system's preference (RFC 6724), so the first is the one to start with.
    const qsizetype at = choice.address.isNull() ? -1 : usable.indexOf(choice.address);
    if (at < 0)
        return usable.first();
    return choice.rule == AddressChoice::Rule::After ? usable.at((at + 1) % usable.size()) : usable.at(at);
}

ServerExchange::ServerExchange(UdpChannel& channel, Clock& clock, NtsSessions& ntsSessions, QObject* parent)
    : QObject(parent), m_channel(channel), m_clock(clock), m_ntsSessions(ntsSessions)
{
    connect(&m_channel, &UdpChannel::ready, this, &ServerExchange::sendRequest);
    connect(&m_channel, &UdpChannel::datagramArrived, this, &ServerExchange::processDatagram);
    connect(&m_channel, &UdpChannel::errorOccurred, this, &ServerExchange::onChannelError);
    connect(&m_ntsSessions, &NtsSessions::keyExchangeFinished, this, &ServerExchange::ntsKeyExchangeFinished);
}

ServerExchange::~ServerExchange() = default;

bool ServerExchange::canPoll(const QString& name)
{
    return CheckServerName(name) == ServerNameCheck::Usable;
}

PollStep ServerExchange::unpollableStep(const QString& name, UtcTime at)
{
    PollStep step;
    step.server = name;
    step.polledAt = at;
    step.requests = 0;
    step.reading.problems = ServerProblem::UnpollableName;
    return step;
}

void ServerExchange::start(const QString& server, const Settings& settings, std::chrono::milliseconds budget,
                           const AddressChoice& choice)
{
    stop();
    m_settings = settings;
    m_step = PollStep();
    m_step.server = server;
    m_step.polledAt = m_clock.now();
    m_ntsRefusal.clear();
    const std::optional<ServerAddress> address = ParseServerAddress(server);
    if (!address)
        return;
    m_running = true;
    m_nts = m_ntsSessions.sessionFor(server);
    if (m_nts) {
        if (m_nts->needsKeyExchange())
            m_nts->startKeyExchange(budget);
        else
            connectToNtsServer();
        return;
    }
    m_port = address->port;
    if (QHostAddress(address->host).isNull()) {
        if (choice.rule == AddressChoice::Rule::Exactly && !choice.address.isNull()) {
            connectTo(choice.address);
            return;
        }
        if (m_resolver) {
            m_choice = choice;
            const quint64 lookup = m_lookup;
            m_resolver->lookUp(address->host, this, [this, lookup](const HostLookup& found) {
                hostLookedUp(lookup, found.addresses);
            });
            return;
        }
    }
    m_channel.setRemoteHost(address->host, m_port);
    // Last, because the channel may report ready (and so send) before this returns.
    m_channel.connectToRemote();
}

void ServerExchange::hostLookedUp(quint64 lookup, const QList<QHostAddress>& addresses)
{
    if (lookup != m_lookup || !m_running)
        return;
    // A name that stands for nothing is left to the time-out, like a server that does not answer.
    if (const QHostAddress address = ChooseAddress(addresses, m_choice); !address.isNull())
        connectTo(address);
}

void ServerExchange::connectTo(const QHostAddress& address)
{
    m_step.address = address;
    m_channel.setRemoteHost(address.toString(), m_port);
    m_channel.connectToRemote();
}

void ServerExchange::timeOut()
{
    if (m_running)
        finish(false);
}

void ServerExchange::abandon()
{
    stop();
}

void ServerExchange::stop()
{
    if (m_running || m_nts) {
        m_channel.close();
        if (m_nts)
            m_nts->abortKeyExchange();
    }
    m_running = false;
    m_requestSent = false;
    m_nts = nullptr;
    ++m_lookup;
}

void ServerExchange::ntsKeyExchangeFinished(NtsSession* session, bool ok, const QString& reason)
{
    if (session != m_nts || !m_running)
        return;
    if (ok) {
        connectToNtsServer();
        return;
    }
    m_ntsRefusal = reason;
    finish(false);
}

void ServerExchange::connectToNtsServer()
{
    m_channel.setRemoteHost(m_nts->ntpAddress(), m_nts->ntpPort());
    m_channel.connectToRemote();
}

void ServerExchange::sendRequest()
{
    // A late lookup for an exchange that has already ended, or a second ready for this one.
    if (!m_running || m_requestSent)
        return;
    m_nonce = RandomRequestNonce();
    const NtpPacketBytes request = BuildNtpRequest(m_nonce);
    const QByteArray plain(reinterpret_cast<const char*>(request.data()), qsizetype(request.size()));
    const QByteArray datagram = m_nts ? m_nts->authenticatedRequest(request) : plain;
    if (datagram.isEmpty())
        return;
    m_requestSent = true;
    // The channel reads T1 itself, just before the system call, so that neither the lookup nor
    // building the request counts as network delay. A failed send is left to the time-out, like a
    // server that does not answer.
    UtcTime sentAt;
    m_channel.send(datagram, m_clock, sentAt);
    m_requestSendTime = ToNtpSeconds(sentAt);
}

void ServerExchange::processDatagram(const QByteArray& datagram, ReceiveTime kernelTime)
{
    if (!m_running || !m_requestSent)
        return;
    const double T4 = ArrivalNtpSeconds(kernelTime, m_requestSendTime, m_clock);
    if (m_nts) {
        // A refused datagram may be a forgery racing the real answer, which may still come.
        const NtsReplyCheck check = m_nts->verifyReply(datagram);
        if (!check.accepted()) {
            if (m_ntsRefusal.isEmpty())
                m_ntsRefusal = check.reason();
            return;
        }
    }
    const ParsedReply parsed = ParseNtpReply(datagram, m_nonce);
    // Not the answer to this request: its real answer or its time-out may still come.
    if (!parsed.accepted())
        return;
    m_step.reading = EvaluateNtpReply(parsed.reply, m_requestSendTime, T4, m_settings);
    if (m_nts) {
        const NtsCertificateInfo certificate = m_nts->certificate();
        m_step.nts = NtsStatus{true, {}, certificate.subject, certificate.issuer, certificate.expiry};
    }
    finish(true);
}

void ServerExchange::onChannelError(const QString& description)
{
    if (!m_running)
        return;
    m_step.socketError = description;
    finish(false, ServerProblem::SocketError);
}

void ServerExchange::finish(bool answered, ServerProblems why)
{
    m_step.answered = answered;
    m_step.answers = answered ? 1 : 0;
    if (!answered) {
        if (m_nts) {
            m_step.nts = NtsStatus{false, m_ntsRefusal, {}, {}, {}};
            if (!m_ntsRefusal.isEmpty())
                why |= ServerProblem::NtsRefused;
        }
        m_step.reading = ServerReading{.problems = why};
    }
    stop();
    emit finished(m_step);
}

} // namespace ostrelle
