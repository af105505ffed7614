#pragma once

#include <QObject>
#include <QString>

class QThread;

namespace ostrelle {

// Writes every stored sample of every server as CSV on a thread of its own, through its own
// read-only connection, so that a long export never freezes the window. One export at a time.
class HistoryExport : public QObject
{
    Q_OBJECT
public:
    explicit HistoryExport(QObject* parent = nullptr);
    ~HistoryExport() override; // waits for a running export

    // False (and nothing started) while an earlier export still runs.
    bool start(const QString& databasePath, const QString& fileName);
    bool isRunning() const { return m_thread != nullptr; }
    // Blocks until the running export has finished and said so (for tests).
    void wait();

signals:
    // error is empty on success; the file is replaced only when the export succeeded.
    void finished(const QString& fileName, const QString& error);

private:
    void done(const QString& fileName, const QString& error);

    QThread* m_thread = nullptr;
};

} // namespace ostrelle
