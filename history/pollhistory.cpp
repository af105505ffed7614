#include "history/pollhistory.h"

#include "history/historyrecorder.h"
#include "ntp/pollcycle.h"
#include "ntp/polloutcome.h"
#include "platform/messagedialog.h"

namespace ostrelle {

HistorySample HistorySampleOf(const PollStep& step)
{
    HistorySample sample;
    sample.time = std::chrono::time_point_cast<HistoryTime::duration>(step.polledAt);
    sample.server = step.server;
    if (!step.address.isNull())
        sample.address = step.address.toString();
    const PollResult result = PollResultOf(step);
    sample.outcome = result.outcome;
    sample.detail = result.reason;
    const ServerReading& reading = step.reading;
    sample.stratum = reading.stratum;
    sample.leap = reading.leap;
    sample.referenceId = reading.referenceId;
    if (!sample.answered())
        return sample;
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
