#pragma once

#include "platform/udpchannel.h"
#include "servers/servername.h"
#include "servers/serverrecord.h"
#include "servers/settings.h"
#include "timekeeping/ntppacket.h"
#include "timekeeping/ntptime.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <optional>

namespace ostrelle {

class Clock;
class HostResolver;
class NtsSession;
class NtsSessions;

// How one poll of one server ended, for the window, the history and the report alike: it
// answered (reading holds the full-precision evaluation, its problems included), or it did not
// (reading.problems says why: nothing for silence, SocketError, UnpollableName, NtsRefused).
// PollResultOf() says what that comes to, in the words the operator reads.
struct PollStep
{
    QString server;       // the name as listed
    QHostAddress address; // the address a name was asked at; null for an address literal or NTS
    UtcTime polledAt;     // when the step began
    bool answered = false;
    ServerReading reading;
    QString socketError;          // the system's words when SocketError ended it
    std::optional<NtsStatus> nts; // for nts:// servers: what NTS proved, or why it failed
    // A poll of several samples keeps the one its clock filter chose, with these beside it.
    int requests = 1;
    int answers = 0;
    double jitterSeconds = 0.0;
};

// Which of a name's addresses a step asks. A name may stand for a pool of separate servers: the
// report asks each address it looked up, and the window stays with one until it goes silent.
struct AddressChoice
{
    enum class Rule {
        Exactly,  // address as given, not looked up again; the name's first when address is null
        StayWith, // looked up: address while the name still resolves to it, else the first
        After,    // looked up: the address after this one (it went silent), else the first
    };
    QHostAddress address;
    Rule rule = Rule::Exactly;
};

// The addresses of a lookup that can be polled: IPv4 and IPv6 ones, each once, in the resolver's order.
QList<QHostAddress> PollableAddresses(const QList<QHostAddress>& addresses);
// The address of a name that a step asks: choice applied to its PollableAddresses(); null when
// there are none.
QHostAddress ChooseAddress(const QList<QHostAddress>& addresses, const AddressChoice& choice);

// One exchange with one server: the name read into an address, for nts:// the key exchange
// (when the session needs one) and the authenticated request, a fresh random nonce, T1 read at
// the send, T4 from the kernel, and the strict checks of the reply. The owner gives it a channel
// and ends it when its time is up (timeOut()); the exchange itself keeps no timer, so a test or
// the window's tick decides when a server has been silent long enough.
class ServerExchange : public QObject
{
    Q_OBJECT
public:
    ServerExchange(UdpChannel& channel, Clock& clock, NtsSessions& ntsSessions, QObject* parent = nullptr);
    ~ServerExchange() override;

    // Whether name is one the exchange can poll; a step for any other is unpollableStep().
    static bool canPoll(const QString& name);
    // The step of a name that is never looked up.
    static PollStep unpollableStep(const QString& name, UtcTime at);

    // Names of plain servers are looked up through resolver from now on, each step asking the
    // address its AddressChoice picks; without one the channel looks a name up itself and asks
    // the first address.
    void setHostResolver(HostResolver& resolver) { m_resolver = &resolver; }

    // Starts polling server (canPoll() must hold), its reply judged against settings; budget is
    // what the step has for the key exchange and the reply together. choice says which address
    // of a plain server's name to ask. A running exchange is dropped first, without a signal.
    void start(const QString& server, const Settings& settings, std::chrono::milliseconds budget,
               const AddressChoice& choice = {});
    // The owner's time is up: finished() with what is known (silence, or the NTS refusal).
    void timeOut();
    // Drops the running exchange without a signal (its server was removed).
    void abandon();
    bool isRunning() const { return m_running; }
    const QString& server() const { return m_step.server; }

    // The channel knows the server's address: the request is built and sent now.
    void sendRequest();
    // kernelTime: when the system took the datagram in (T4); without it, the time of this call.
    void processDatagram(const QByteArray& datagram, ReceiveTime kernelTime = {});
    // The channel could not make a socket: this exchange fails at once.
    void onChannelError(const QString& description);

    double requestSendTime() const { return m_requestSendTime; } // T1, NtpSeconds
    const NtpTimestampBytes& requestNonce() const { return m_nonce; }

signals:
    // The exchange is over; emitted once per start(), never after abandon().
    void finished(const ostrelle::PollStep& step);

private:
    void ntsKeyExchangeFinished(NtsSession* session, bool ok, const QString& reason);
    void connectToNtsServer();
    void hostLookedUp(quint64 lookup, const QList<QHostAddress>& addresses);
    void connectTo(const QHostAddress& address);
    void finish(bool answered, ServerProblems why = {});
    void stop();

    UdpChannel& m_channel;
    Clock& m_clock;
    NtsSessions& m_ntsSessions;
    HostResolver* m_resolver = nullptr;
    Settings m_settings;
    PollStep m_step;
    bool m_running = false;
    // Bumped by every stop(): a lookup that answers with an older number is for a step given up.
    quint64 m_lookup = 0;
    AddressChoice m_choice;
    quint16 m_port = 0;
    // The request has left; only from then on can a datagram answer it.
    bool m_requestSent = false;
    NtpTimestampBytes m_nonce{};
    double m_requestSendTime = 0.0;
    NtsSession* m_nts = nullptr; // nullptr for a plain server
    QString m_ntsRefusal;        // the first reason an NTS datagram or key exchange was refused
};

} // namespace ostrelle
