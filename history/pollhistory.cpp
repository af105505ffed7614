#include "history/pollhistory.h"

#include "history/historyrecorder.h"
#include "ntp/pollcycle.h"
#include "platform/messagedialog.h"

namespace ostrelle {

namespace {

// The four letters of a kiss code, without the padding a short code leaves.
QString kissCode(const std::array<std::uint8_t, 4>& referenceId)
{
    QString code;
    for (std::uint8_t byte : referenceId) {
        if (byte != 0)
            code += QChar::fromLatin1(static_cast<char>(byte));
    }
    return code.trimmed();
}

} // namespace

HistorySample HistorySampleOf(const PollStep& step)
{
    HistorySample sample;
    sample.time = std::chrono::time_point_cast<HistoryTime::duration>(step.polledAt);
    sample.server = step.server;
    if (!step.address.isNull())
        sample.address = step.address.toString();
    const ServerReading& reading = step.reading;
    if (!step.answered) {
        sample.outcome = HistoryOutcome::TimedOut;
        if (reading.problems.testFlag(ServerProblem::SocketError))
            sample.detail = QStringLiteral("socket error");
        else if (reading.problems.testFlag(ServerProblem::UnpollableName))
            sample.detail = QStringLiteral("name not pollable");
        return sample;
    }

    sample.stratum = reading.stratum;
    sample.leap = reading.leap;
    sample.referenceId = reading.referenceId;
    if (reading.problems.testFlag(ServerProblem::KissOfDeath)) {
        sample.outcome = HistoryOutcome::KissOfDeath;
        sample.detail = kissCode(reading.referenceId);
        return sample;
    }
    // Without the server's timestamps the offset and round trip are decades, not figures to plot.
    if (!reading.hasTimestamps) {
        sample.outcome = HistoryOutcome::Refused;
        sample.detail = QStringLiteral("no timestamps");
        return sample;
    }
    sample.outcome = HistoryOutcome::Answered;
    sample.offset = reading.offsetSeconds;
    sample.roundTrip = reading.roundTripSeconds;
    sample.rootDelay = reading.rootDelaySeconds;
    sample.rootDispersion = reading.rootDispersionSeconds;
    return sample;
}

PollHistory::PollHistory(PollCycle& cycle, HistoryRecorder& recorder, MessageDialog& messages,
                         QObject* parent)
    : QObject(parent), m_recorder(recorder), m_messages(messages)
{
    connect(&cycle, &PollCycle::serverPolled, this,
            [this](const PollStep& step) { m_recorder.record(HistorySampleOf(step)); });
    // The cycle tells its labels only at the end of a pass; an extra call would cost nothing, as
    // the recorder writes at most once a second.
    connect(&cycle, &PollCycle::labelsChanged, &recorder, &HistoryRecorder::passFinished);
    // Queued: the message box must not open inside the cycle's or the writer's handler.
    connect(&recorder, &HistoryRecorder::fault, this, &PollHistory::showFault, Qt::QueuedConnection);
}

void PollHistory::showFault(const QString& message)
{
    m_messages.show(message, QStringLiteral("Brevikon Ostrelle"), MessageDialog::Icon::Warning,
                    MessageDialog::Buttons::Ok, MessageDialog::Button::Ok);
}

} // namespace ostrelle
