#pragma once

#include "history/historysample.h"

#include <QHash>
#include <QList>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QLockFile;
class QSqlDatabase;
class QSqlQuery;

namespace ostrelle {

// How long samples are kept: whichever limit a sample reaches first drops it.
struct HistoryRetention
{
    std::chrono::nanoseconds maxAge = std::chrono::days(30);
    int maxPerServer = 100000;
};

// The samples of every server in one SQLite file. One instance is one connection and must stay on
// the thread that opened it. A store that meets a fault never throws: it tells its fault handler
// once (what went wrong and where) and from then on acts as closed, except for a damaged file,
// which it moves aside and replaces by an empty database.
class HistoryStore
{
public:
    using FaultHandler = std::function<void(const QString& message)>;
    enum class Mode { ReadWrite, ReadOnly };

    explicit HistoryStore(QString path, FaultHandler onFault = {});
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // history.sqlite in the per-user data folder.
    static QString defaultPath();

    // ReadWrite also creates the folder and the schema and holds a lock file against a second
    // copy of the program; ReadOnly never reports a fault (the view simply shows nothing).
    bool open(Mode mode = Mode::ReadWrite);
    void close();
    bool isOpen() const;
    QString path() const { return m_path; }

    // How long a write waits for another connection's lock before it counts as a fault.
    void setBusyTimeout(std::chrono::milliseconds timeout) { m_busyTimeout = timeout; }

    // Writes the samples in one transaction; false (and nothing written) on a fault.
    bool append(const QList<HistorySample>& samples);
    // Drops what retention no longer keeps, counting age back from now.
    bool prune(HistoryTime now, const HistoryRetention& retention = {});

    // Plot leaves leap, root delay and root dispersion at 0 and reads only the index: fast on a
    // database of many servers.
    enum class Columns { All, Plot };
    // The samples of server with from <= time <= to, oldest first.
    QList<HistorySample> samples(const QString& server, HistoryTime from, HistoryTime to,
                                 Columns columns = Columns::All) const;
    // The newest count samples of server, oldest first.
    QList<HistorySample> lastSamples(const QString& server, int count) const;
    // Calls visit for each sample of server (of every server, by name, when empty), oldest first
    // within a server; stops early when visit returns false. False when reading failed.
    bool forEachSample(const QString& server, const std::function<bool(const HistorySample&)>& visit) const;
    QStringList servers() const;

private:
    bool openConnection(Mode mode);
    bool setUpSchema();
    bool writeSamples(const QList<HistorySample>& samples);
    bool pruneNow(HistoryTime now, const HistoryRetention& retention);
    // Notes the first failure of a call (an invalid error: already reported, only close);
    // settleFault() acts on it once the call's queries are gone.
    bool fail(const QSqlError& error, const QString& doing);
    void settleFault();
    bool reopenIfMovedAside();
    void report(const QString& message);
    std::optional<qint64> serverId(const QString& name);
    bool countPerServer();
    // Whether the sample table has the address column; a file of an older version gets it when
    // opened for writing.
    bool hasAddressColumn() const;
    bool addAddressColumn();

    struct Failure
    {
        QSqlError error;
        QString doing;
    };

    QString m_path;
    FaultHandler m_onFault;
    std::optional<Failure> m_failure;
    QString m_connection;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QSqlQuery> m_insert;
    QHash<QString, qint64> m_serverIds;
    std::optional<QHash<qint64, qint64>> m_counts; // samples per server id, once counted
    std::chrono::milliseconds m_busyTimeout{2000};
    Mode m_mode = Mode::ReadWrite;
    // Looked for again on each read while false: the writer may add it to a file a reader opened.
    mutable bool m_addressColumn = false;
    bool m_faultReported = false;
    bool m_open = false;
};

} // namespace ostrelle
