#pragma once

#include "timekeeping/ntppacket.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>

namespace ostrelle {

class Clock;
class MessageDialog;
class ServerTable;
class UdpChannel;
struct Settings;

// The round-robin over the server rows: one request at a time, ten ticks to answer, the end of
// pass with the optional clock setting. Driven by its events (tick, channel ready, datagram,
// socket error) so that tests can step it; it knows no widgets.
class PollCycle : public QObject
{
    Q_OBJECT
public:
    static constexpr int TicksToAnswer = 10;

    PollCycle(ServerTable& table, const Settings& settings, UdpChannel& channel, Clock& clock,
              MessageDialog& messages, QObject* parent = nullptr);

    // The one-second tick (and the direct call at start-up).
    void TimerTimeout_Timer();
    // Ends the current step and starts the next one, or ends the pass.
    void PollNextServer();
    // The channel knows the polled server's address: the request is built, stamped and sent now.
    void Winsock1_Connected();
    void Winsock1_DataArrival(const QByteArray& datagram);
    void Winsock1_Error(const QString& description);

    // The operator removed a server row / emptied the table; called after the table changed.
    void serverRowRemoved(int row);
    void tableCleared();

    int PollRow() const { return m_pollRow; }
    int PollCountdown() const { return m_pollCountdown; }
    // The dialogs' OK sets 0 so that the next tick acts at once.
    void setPollCountdown(int ticks) { m_pollCountdown = ticks; }
    double RequestSendTime() const { return m_requestSendTime; }
    const NtpPacketBytes& NtpRequest() const { return m_ntpRequest; }
    bool awaitingReply() const { return m_awaitingReply; }

    const QString& BestServer() const { return m_bestServer; }
    int BestStratum() const { return m_bestStratum; }
    double BestOffset() const { return m_bestOffset; }
    // Start-up sets -1: no candidate yet.
    void setBestStratum(int stratum) { m_bestStratum = stratum; }

    const QString& LabelPoll() const { return m_labelPoll; }
    const QString& LabelSync() const { return m_labelSync; }
    const QString& LabelAdjust() const { return m_labelAdjust; }

signals:
    void labelsChanged();
    // The operator has closed the "Socket Error: " message: the program must end now.
    void fatalErrorAcknowledged();

private:
    void endOfPass();
    void abandonRequest();
    void forgetCandidate();

    ServerTable& m_table;
    const Settings& m_settings;
    UdpChannel& m_channel;
    Clock& m_clock;
    MessageDialog& m_messages;

    int m_pollRow = 0;
    int m_pollCountdown = 0;
    double m_requestSendTime = 0.0;
    NtpPacketBytes m_ntpRequest{};
    // From the poll step until the reply, the time-out or the operator's removal of the row.
    bool m_awaitingReply = false;
    // The request of this step has left; only from then on can a datagram answer it.
    bool m_requestSent = false;

    QString m_bestServer;
    int m_bestStratum = -1;
    double m_bestOffset = 0.0;
    int m_candidateRow = 0;

    QString m_labelPoll = QStringLiteral("-");
    QString m_labelSync = QStringLiteral("None");
    QString m_labelAdjust = QStringLiteral("None");
};

} // namespace ostrelle
