#pragma once

#include "history/historysample.h"
#include "history/historystatistics.h"

#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;

namespace ostrelle {

class HistoryPlot;
class HistoryRecorder;

// The history of one server: the plot, the figures of the span shown beside it, and export.
// Non-modal and live: samples the recorder stores for this server appear as they arrive.
class ServerHistoryWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Span { LastHour, LastDay, LastWeek, All };
    // Asks where to save; an empty answer cancels.
    using SaveFileChooser = std::function<QString(QWidget* parent, const QString& suggestedName)>;
    using Now = std::function<HistoryTime()>;

    // now gives the end of the span shown; the system clock when empty.
    ServerHistoryWindow(const QString& server, HistoryRecorder& recorder, QWidget* parent = nullptr,
                        Now now = {});

    QString server() const { return m_server; }
    void setSpan(Span span);
    Span span() const;
    void setSaveFileChooser(SaveFileChooser chooser) { m_chooseFile = std::move(chooser); }

    HistoryPlot* plot() const { return m_plot; }
    const HistoryStatistics& statistics() const { return m_statistics; }

    // Reads the span again from the database.
    void reload();
    // Writes the samples of the span shown as CSV; false (with the reason shown) on failure.
    bool exportTo(const QString& fileName);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void exportWithDialog();
    void samplesStored(const QStringList& servers);
    void showSamples(QList<HistorySample> samples);
    void showFigures();
    HistoryTime spanStart() const;
    std::pair<HistoryTime, HistoryTime> axisRange(const QList<HistorySample>& samples) const;

    QString m_server;
    HistoryRecorder& m_recorder;
    SaveFileChooser m_chooseFile;
    Now m_now;
    HistoryPlot* m_plot = nullptr;
    QComboBox* m_span = nullptr;
    QList<QLabel*> m_figureValues;
    QLabel* m_status = nullptr;
    HistoryStatistics m_statistics;
    bool m_loaded = false;
};

} // namespace ostrelle
