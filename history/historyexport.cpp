#include "history/historyexport.h"

#include "history/historycsv.h"
#include "history/historystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QThread>

namespace ostrelle {

namespace {

// What went wrong, or empty.
QString exportAll(const QString& databasePath, const QString& fileName)
{
    HistoryStore store(databasePath);
    if (!store.open(HistoryStore::Mode::ReadOnly))
        return QCoreApplication::translate("HistoryExport", "No history could be read from %1.")
            .arg(QDir::toNativeSeparators(databasePath));
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || !ExportHistoryCsv(store, file) || !file.commit())
        return QCoreApplication::translate("HistoryExport", "The history could not be written to %1: %2")
            .arg(QDir::toNativeSeparators(fileName), file.errorString());
    return {};
}

} // namespace

HistoryExport::HistoryExport(QObject* parent) : QObject(parent) {}

HistoryExport::~HistoryExport()
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

bool HistoryExport::start(const QString& databasePath, const QString& fileName)
{
    if (m_thread)
        return false;
    m_thread = QThread::create([this, databasePath, fileName] {
        const QString error = exportAll(databasePath, fileName);
        QMetaObject::invokeMethod(
            this, [this, fileName, error] { done(fileName, error); }, Qt::QueuedConnection);
    });
    m_thread->start();
    return true;
}

void HistoryExport::wait()
{
    while (m_thread)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void HistoryExport::done(const QString& fileName, const QString& error)
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    emit finished(fileName, error);
}

} // namespace ostrelle
