#pragma once

#include "history/historysample.h"

#include <QObject>

namespace ostrelle {

class HistoryRecorder;
class MessageDialog;
class PollCycle;
struct PollStep;

// The sample one finished poll step leaves in the history, at full precision.
HistorySample HistorySampleOf(const PollStep& step);

// Hands every poll step of the cycle to the recorder and ends its pass with the cycle's. The
// recorder's fault reaches the operator once; polling goes on without history after it.
class PollHistory : public QObject
{
    Q_OBJECT
public:
    PollHistory(PollCycle& cycle, HistoryRecorder& recorder, MessageDialog& messages,
                QObject* parent = nullptr);

    HistoryRecorder& recorder() const { return m_recorder; }

private:
    void showFault(const QString& message);

    HistoryRecorder& m_recorder;
    MessageDialog& m_messages;
};

} // namespace ostrelle
