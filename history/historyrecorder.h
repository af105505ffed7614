#pragma once

#include "history/historysample.h"
#include "history/historystore.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <chrono>

class QIODevice;

namespace ostrelle {

class HistoryWriter;

// Takes samples on the window's thread and has them written by a thread of its own, one
// transaction per pass (at most one a second), so that the window never waits for the disk.
// After a fault it drops samples and says so once through fault().
class HistoryRecorder : public QObject
{
    Q_OBJECT

public:
    explicit HistoryRecorder(const QString& path = HistoryStore::defaultPath(), QObject* parent = nullptr);
    ~HistoryRecorder() override; // writes what is still queued

    // Queues one poll's sample.
    void record(const HistorySample& sample);
    // Marks the end of a pass: its samples are written now, or a second after the last write.
    void passFinished();
    // Writes what is queued now.
    void flush();
    // Blocks until everything queued so far has reached the database (for tests and benchmarks).
    void waitForWrites();

    // False after a fault turned history off.
    bool isEnabled() const { return m_enabled; }
    QString path() const { return m_path; }

    // Reads through a connection of the calling (window's) thread; samples() reads the columns
    // the view needs (HistoryStore::Columns::Plot).
    QList<HistorySample> samples(const QString& server, HistoryTime from, HistoryTime to);
    QStringList servers();
    HistoryStore* reader();

signals:
    // Samples of these servers are in the database now.
    void samplesStored(const QStringList& servers);
    // Said once, with what went wrong and where.
    void fault(const QString& message);

private:
    void writerFault(const QString& message, bool historyOff);

    QString m_path;
    QThread m_thread;
    HistoryWriter* m_writer = nullptr;
    HistoryStore m_reader;
    QList<HistorySample> m_pending;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;
    bool m_enabled = true;
};

} // namespace ostrelle
