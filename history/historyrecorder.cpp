#include "history/historyrecorder.h"

#include <QSet>
#include <chrono>

namespace ostrelle {

namespace {
constexpr std::chrono::milliseconds MinFlushInterval{1000};
// A pass that never ends (or a caller that never says so) must not hold samples without bound.
constexpr qsizetype MaxPending = 100000;
constexpr std::chrono::hours PruneInterval{1};
} // namespace

// Lives on the recorder's thread and owns the only writing connection.
class HistoryWriter : public QObject
{
    Q_OBJECT

public:
    explicit HistoryWriter(const QString& path)
        : m_store(path, [this](const QString& message) { m_lastFault = message; })
    {
    }

    void open()
    {
        if (m_store.open())
            prune(std::chrono::system_clock::now());
        reportFault();
    }

    void write(const QList<HistorySample>& samples)
    {
        if (!m_store.isOpen())
            return;
        if (m_store.append(samples)) {
            QSet<QString> names;
            HistoryTime newest{};
            for (const HistorySample& s : samples) {
                names.insert(s.server);
                newest = std::max(newest, s.time);
            }
            if (newest - m_lastPrune >= PruneInterval)
                prune(newest);
            emit stored(QStringList(names.begin(), names.end()));
        }
        reportFault();
    }

signals:
    void stored(const QStringList& servers);
    void fault(const QString& message, bool historyOff);

private:
    void prune(HistoryTime now)
    {
        m_store.prune(now);
        m_lastPrune = now;
    }

    void reportFault()
    {
        if (m_lastFault.isEmpty())
            return;
        emit fault(m_lastFault, !m_store.isOpen());
        m_lastFault.clear();
    }

    HistoryStore m_store;
    QString m_lastFault;
    HistoryTime m_lastPrune{};
};

HistoryRecorder::HistoryRecorder(const QString& path, QObject* parent)
    : QObject(parent), m_path(path), m_reader(path)
{
    m_thread.setObjectName(QStringLiteral("history writer"));
    m_writer = new HistoryWriter(path);
    m_writer->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_writer, &QObject::deleteLater);
    connect(m_writer, &HistoryWriter::stored, this, &HistoryRecorder::samplesStored);
    connect(m_writer, &HistoryWriter::fault, this, &HistoryRecorder::writerFault);
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &HistoryRecorder::flush);
    m_thread.start();
    QMetaObject::invokeMethod(m_writer, &HistoryWriter::open, Qt::QueuedConnection);
    m_sinceFlush.start();
}

HistoryRecorder::~HistoryRecorder()
{
    // Waiting here, not only queueing: quit() would leave a queued write unexecuted.
    waitForWrites();
    m_thread.quit();
    m_thread.wait();
}

void HistoryRecorder::record(const HistorySample& sample)
{
    if (!m_enabled)
        return;
    m_pending.append(sample);
    if (m_pending.size() >= MaxPending)
        flush();
}

void HistoryRecorder::passFinished()
{
    if (m_pending.isEmpty() || m_flushTimer.isActive())
        return;
    const auto since = std::chrono::milliseconds(m_sinceFlush.elapsed());
    if (since >= MinFlushInterval)
        flush();
    else
        m_flushTimer.start(MinFlushInterval - since);
}

void HistoryRecorder::flush()
{
    m_flushTimer.stop();
    if (m_pending.isEmpty())
        return;
    QList<HistorySample> batch;
    batch.swap(m_pending);
    m_sinceFlush.restart();
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, batch = std::move(batch)] { writer->write(batch); },
        Qt::QueuedConnection);
}

void HistoryRecorder::waitForWrites()
{
    flush();
    QMetaObject::invokeMethod(
        m_writer, [] {}, Qt::BlockingQueuedConnection);
}

void HistoryRecorder::writerFault(const QString& message, bool historyOff)
{
    if (historyOff) {
        m_enabled = false;
        m_pending.clear();
    }
    emit fault(message);
}

HistoryStore* HistoryRecorder::reader()
{
    if (!m_reader.isOpen())
        m_reader.open(HistoryStore::Mode::ReadOnly);
    return &m_reader;
}

QList<HistorySample> HistoryRecorder::samples(const QString& server, HistoryTime from, HistoryTime to)
{
    return reader()->samples(server, from, to, HistoryStore::Columns::Plot);
}

QStringList HistoryRecorder::servers()
{
    return reader()->servers();
}

} // namespace ostrelle

#include "historyrecorder.moc"
