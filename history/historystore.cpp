#include "history/historystore.h"

#include "platform/lockfile.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>
#include <algorithm>

namespace ostrelle {

namespace {

constexpr int SchemaVersion = 1;

// SQLite's primary result codes that decide what a failure means for the operator.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteCorrupt = 11;
constexpr int SqliteFull = 13;
constexpr int SqliteNotADatabase = 26;

int sqliteCode(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1;
}

QString nextConnectionName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("ostrelle-history-%1").arg(counter.fetchAndAddRelaxed(1));
}

qint64 nanosecondsOf(HistoryTime time)
{
    return time.time_since_epoch().count();
}

quint32 packReference(const std::array<std::uint8_t, 4>& id)
{
    return (quint32(id[0]) << 24) | (quint32(id[1]) << 16) | (quint32(id[2]) << 8) | quint32(id[3]);
}

std::array<std::uint8_t, 4> unpackReference(quint32 value)
{
    return {std::uint8_t(value >> 24), std::uint8_t(value >> 16), std::uint8_t(value >> 8),
            std::uint8_t(value)};
}

// The columns the view needs come first: the index holds them, so that reading one server's
// span never visits the table, where its rows lie scattered among every other server's.
const char* const PlotColumns =
    "s.time_ns, s.outcome, s.detail, s.stratum, s.reference, s.offset, s.round_trip";
const char* const SampleColumns =
    "s.time_ns, s.outcome, s.detail, s.stratum, s.reference, s.offset, s.round_trip, "
    "s.leap, s.root_delay, s.root_dispersion";
const char* const AddressColumn = ", s.address";

QString columnsOf(bool all, bool withAddress)
{
    return QLatin1String(all ? SampleColumns : PlotColumns) +
           QLatin1String(all && withAddress ? AddressColumn : "");
}

HistorySample sampleFrom(const QSqlQuery& query, const QString& server, bool allColumns, bool withAddress)
{
    HistorySample s;
    s.time = HistoryTime(std::chrono::nanoseconds(query.value(0).toLongLong()));
    s.server = server;
    s.outcome = static_cast<PollOutcome>(query.value(1).toInt());
    s.detail = query.value(2).toString();
    s.stratum = query.value(3).toInt();
    s.referenceId = unpackReference(query.value(4).toUInt());
    s.offset = query.value(5).toDouble();
    s.roundTrip = query.value(6).toDouble();
    if (allColumns) {
        s.leap = query.value(7).toInt();
        s.rootDelay = query.value(8).toDouble();
        s.rootDispersion = query.value(9).toDouble();
        if (withAddress)
            s.address = query.value(10).toString();
    }
    return s;
}

} // namespace

HistoryStore::HistoryStore(QString path, FaultHandler onFault)
    : m_path(std::move(path)), m_onFault(std::move(onFault))
{
}

HistoryStore::~HistoryStore()
{
    close();
}

QString HistoryStore::defaultPath()
{
    // The machine's own data, never a roaming profile's: %LOCALAPPDATA% on Windows, the same
    // folder as AppDataLocation elsewhere.
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/history.sqlite");
}

bool HistoryStore::isOpen() const
{
    return m_open;
}

void HistoryStore::close()
{
    m_insert.reset();
    m_serverIds.clear();
    m_counts.reset();
    m_open = false;
    m_addressColumn = false;
    if (!m_connection.isEmpty()) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
        m_connection.clear();
    }
    m_lock.reset();
}

void HistoryStore::report(const QString& message)
{
    if (m_mode == Mode::ReadOnly || m_faultReported)
        return;
    m_faultReported = true;
    if (m_onFault)
        m_onFault(message);
}

bool HistoryStore::open(Mode mode)
{
    close();
    m_mode = mode;
    if (mode == Mode::ReadWrite) {
        const QFileInfo file(m_path);
        if (!QDir().mkpath(file.absolutePath())) {
            report(QStringLiteral("History is off: cannot create the folder %1.").arg(file.absolutePath()));
            return false;
        }
        // SQLite's own locks only last a transaction; a second copy of the program is seen here.
        m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
        m_lock->setStaleLockTime(0);
        if (!TryLockFile(*m_lock)) {
            const bool held = m_lock->error() == QLockFile::LockFailedError;
            m_lock.reset();
            report(held ? QStringLiteral("History is off: the history database %1 is in use by another "
                                         "copy of the program.")
                              .arg(m_path)
                        : QStringLiteral("History is off: cannot create the lock file %1.lock.").arg(m_path));
            return false;
        }
    } else if (!QFileInfo::exists(m_path)) {
        return false;
    }
    if (openConnection(mode))
        return true;
    settleFault();
    return reopenIfMovedAside();
}

bool HistoryStore::reopenIfMovedAside()
{
    // Only a damaged file that was moved aside leaves the lock held and the store closed; an
    // empty database takes its place.
    if (m_open || !m_lock || QFileInfo::exists(m_path))
        return false;
    if (openConnection(m_mode))
        return true;
    settleFault();
    return false;
}

bool HistoryStore::openConnection(Mode mode)
{
    m_connection = nextConnectionName();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!db.isValid()) {
        report(QStringLiteral("History is off: Qt's SQLite driver (QSQLITE) is not installed."));
        return fail(QSqlError(), {});
    }
    db.setDatabaseName(m_path);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeout.count());
    if (mode == Mode::ReadOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
    if (!db.open()) {
        report(QStringLiteral("History is off: cannot open the history database %1: %2")
                   .arg(m_path, db.lastError().text()));
        return fail(QSqlError(), {});
    }
    m_open = true;
    if (mode == Mode::ReadOnly)
        return true;
    return setUpSchema();
}

bool HistoryStore::setUpSchema()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    // WAL lets the view read while the recorder writes; NORMAL sync loses at most the last
    // transactions on power loss, never on a crash of the program.
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next())
        return fail(q.lastError(), QStringLiteral("open"));
    if (!q.exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
        return fail(q.lastError(), QStringLiteral("open"));
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return fail(q.lastError(), QStringLiteral("open"));
    const int version = q.value(0).toInt();
    if (version > SchemaVersion) {
        report(QStringLiteral("History is off: the history database %1 was written by a newer version "
                              "of the program.")
                   .arg(m_path));
        return fail(QSqlError(), {});
    }
    if (version < SchemaVersion) {
        const QStringList statements = {
            QStringLiteral("BEGIN IMMEDIATE"),
            QStringLiteral("CREATE TABLE server (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)"),
            QStringLiteral("CREATE TABLE sample (id INTEGER PRIMARY KEY, server_id INTEGER NOT NULL, "
                           "time_ns INTEGER NOT NULL, outcome INTEGER NOT NULL, detail TEXT, "
                           "stratum INTEGER, leap INTEGER, reference INTEGER, offset REAL, round_trip REAL, "
                           "root_delay REAL, root_dispersion REAL)"),
            // Serves "the samples of one server in a span" and "its newest N" alike, and covers
            // what the view reads.
            QStringLiteral(
                "CREATE INDEX sample_by_server_time ON sample (server_id, time_ns, outcome, detail, "
                "stratum, reference, offset, round_trip)"),
            QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion),
            QStringLiteral("COMMIT"),
        };
        for (const QString& statement : statements) {
            if (!q.exec(statement)) {
                const QSqlError error = q.lastError();
                q.exec(QStringLiteral("ROLLBACK"));
                return fail(error, QStringLiteral("set up"));
            }
        }
    }
    if (!hasAddressColumn() && !addAddressColumn())
        return false;
    m_insert = std::make_unique<QSqlQuery>(db);
    if (!m_insert->prepare(
            QStringLiteral("INSERT INTO sample (server_id, time_ns, outcome, detail, stratum, leap, "
                           "reference, offset, round_trip, root_delay, root_dispersion, address) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
        return fail(m_insert->lastError(), QStringLiteral("open"));
    return true;
}

bool HistoryStore::hasAddressColumn() const
{
    if (m_addressColumn)
        return true;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT 1 FROM pragma_table_info('sample') WHERE name = 'address'")))
        return false;
    m_addressColumn = q.next();
    return m_addressColumn;
}

bool HistoryStore::addAddressColumn()
{
    // A column added without a new schema version: every version names the columns it reads
    // and writes, so an older copy of the program still opens the file and writes null here.
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("ALTER TABLE sample ADD COLUMN address TEXT")))
        return fail(q.lastError(), QStringLiteral("set up"));
    m_addressColumn = true;
    return true;
}

bool HistoryStore::fail(const QSqlError& error, const QString& doing)
{
    if (!m_failure)
        m_failure = Failure{error, doing};
    return false;
}

void HistoryStore::settleFault()
{
    // Runs once the failed call's queries are gone: closing under them would leave them dangling.
    if (!m_failure)
        return;
    const auto [error, doing] = *m_failure;
    m_failure.reset();
    if (!error.isValid()) {
        close();
        return;
    }
    const int code = sqliteCode(error);
    if (code == SqliteCorrupt || code == SqliteNotADatabase) {
        close();
        const QString aside = m_path + QStringLiteral(".damaged-") +
                              QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmssZ"));
        bool moved = QFile::rename(m_path, aside);
        for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            if (QFileInfo::exists(m_path + suffix))
                moved = QFile::rename(m_path + suffix, aside + suffix) && moved;
        }
        if (moved) {
            report(QStringLiteral("The history database %1 was damaged; it was moved to %2 and a new one "
                                  "was started.")
                       .arg(m_path, aside));
            // The caller opens again; the lock file must stay ours meanwhile.
            if (m_mode == Mode::ReadWrite) {
                m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
                m_lock->setStaleLockTime(0);
                TryLockFile(*m_lock);
            }
        } else {
            report(QStringLiteral("History is off: the history database %1 is damaged and could not be "
                                  "moved aside.")
                       .arg(m_path));
        }
        return;
    }
    if (code == SqliteBusy || code == SqliteLocked) {
        report(QStringLiteral("History is off: the history database %1 is locked by another program.")
                   .arg(m_path));
    } else if (code == SqliteFull) {
        report(
            QStringLiteral("History is off: the disk holding the history database %1 is full.").arg(m_path));
    } else {
        report(QStringLiteral("History is off: cannot %1 the history database %2: %3")
                   .arg(doing, m_path, error.text()));
    }
    close();
}

std::optional<qint64> HistoryStore::serverId(const QString& name)
{
    if (const auto it = m_serverIds.constFind(name); it != m_serverIds.constEnd())
        return *it;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT OR IGNORE INTO server (name) VALUES (?)"));
    q.addBindValue(name);
    if (!q.exec())
        return std::nullopt;
    q.prepare(QStringLiteral("SELECT id FROM server WHERE name = ?"));
    q.addBindValue(name);
    if (!q.exec() || !q.next())
        return std::nullopt;
    const qint64 id = q.value(0).toLongLong();
    m_serverIds.insert(name, id);
    return id;
}

bool HistoryStore::writeSamples(const QList<HistorySample>& samples)
{
    if (!m_open || m_mode != Mode::ReadWrite || !m_insert)
        return false;
    if (samples.isEmpty())
        return true;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery control(db);
    if (!control.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return fail(control.lastError(), QStringLiteral("write to"));
    QHash<qint64, qint64> added;
    for (const HistorySample& s : samples) {
        const std::optional<qint64> id = serverId(s.server);
        bool ok = id.has_value();
        if (ok) {
            const bool answered = s.answered();
            const QVariant none;
            m_insert->bindValue(0, *id);
            m_insert->bindValue(1, nanosecondsOf(s.time));
            m_insert->bindValue(2, static_cast<int>(s.outcome));
            m_insert->bindValue(3, s.detail.isEmpty() ? none : QVariant(s.detail));
            m_insert->bindValue(4, answered ? QVariant(s.stratum) : none);
            m_insert->bindValue(5, answered ? QVariant(s.leap) : none);
            m_insert->bindValue(6, answered ? QVariant(packReference(s.referenceId)) : none);
            m_insert->bindValue(7, answered ? QVariant(s.offset) : none);
            m_insert->bindValue(8, answered ? QVariant(s.roundTrip) : none);
            m_insert->bindValue(9, answered ? QVariant(s.rootDelay) : none);
            m_insert->bindValue(10, answered ? QVariant(s.rootDispersion) : none);
            m_insert->bindValue(11, s.address.isEmpty() ? none : QVariant(s.address));
            ok = m_insert->exec();
        }
        if (!ok) {
            QSqlError error = id ? m_insert->lastError() : db.lastError();
            if (!error.isValid())
                error = QSqlQuery(db).lastError();
            control.exec(QStringLiteral("ROLLBACK"));
            m_serverIds.clear();
            return fail(error, QStringLiteral("write to"));
        }
        ++added[*id];
    }
    if (!control.exec(QStringLiteral("COMMIT"))) {
        const QSqlError error = control.lastError();
        control.exec(QStringLiteral("ROLLBACK"));
        m_serverIds.clear();
        return fail(error, QStringLiteral("write to"));
    }
    if (m_counts) {
        for (auto it = added.constBegin(); it != added.constEnd(); ++it)
            (*m_counts)[it.key()] += it.value();
    }
    return true;
}

bool HistoryStore::append(const QList<HistorySample>& samples)
{
    if (writeSamples(samples))
        return true;
    settleFault();
    if (!reopenIfMovedAside())
        return false;
    if (writeSamples(samples))
        return true;
    settleFault();
    return false;
}

bool HistoryStore::countPerServer()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT server_id, count(*) FROM sample GROUP BY server_id")))
        return fail(q.lastError(), QStringLiteral("read"));
    m_counts.emplace();
    while (q.next())
        m_counts->insert(q.value(0).toLongLong(), q.value(1).toLongLong());
    return true;
}

bool HistoryStore::prune(HistoryTime now, const HistoryRetention& retention)
{
    if (pruneNow(now, retention))
        return true;
    settleFault();
    reopenIfMovedAside();
    return false;
}

bool HistoryStore::pruneNow(HistoryTime now, const HistoryRetention& retention)
{
    if (!m_open || m_mode != Mode::ReadWrite)
        return false;
    // Counting once and keeping the count up to date spares a scan of every server at each pass.
    if (!m_counts && !countPerServer())
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return fail(q.lastError(), QStringLiteral("write to"));
    const qint64 oldest = nanosecondsOf(now) - retention.maxAge.count();
    QSqlQuery byAge(db);
    byAge.prepare(QStringLiteral("DELETE FROM sample WHERE server_id = ? AND time_ns < ?"));
    QSqlQuery boundary(db);
    boundary.prepare(QStringLiteral("SELECT time_ns, id FROM sample WHERE server_id = ? "
                                    "ORDER BY time_ns DESC LIMIT 1 OFFSET ?"));
    QSqlQuery byCount(db);
    byCount.prepare(QStringLiteral("DELETE FROM sample WHERE server_id = ? AND "
                                   "(time_ns < ? OR (time_ns = ? AND id <= ?))"));
    bool ok = true;
    for (auto it = m_counts->begin(); ok && it != m_counts->end(); ++it) {
        byAge.addBindValue(it.key());
        byAge.addBindValue(oldest);
        ok = byAge.exec();
        if (!ok)
            break;
        it.value() -= byAge.numRowsAffected();
        if (it.value() <= retention.maxPerServer)
            continue;
        boundary.addBindValue(it.key());
        boundary.addBindValue(retention.maxPerServer);
        ok = boundary.exec();
        if (!ok || !boundary.next())
            continue;
        const qint64 time = boundary.value(0).toLongLong();
        const qint64 id = boundary.value(1).toLongLong();
        boundary.finish();
        byCount.addBindValue(it.key());
        byCount.addBindValue(time);
        byCount.addBindValue(time);
        byCount.addBindValue(id);
        ok = byCount.exec();
        if (ok)
            it.value() -= byCount.numRowsAffected();
    }
    if (!ok) {
        QSqlError error = byAge.lastError();
        if (!error.isValid())
            error = boundary.lastError().isValid() ? boundary.lastError() : byCount.lastError();
        q.exec(QStringLiteral("ROLLBACK"));
        m_counts.reset();
        return fail(error, QStringLiteral("write to"));
    }
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const QSqlError error = q.lastError();
        q.exec(QStringLiteral("ROLLBACK"));
        m_counts.reset();
        return fail(error, QStringLiteral("write to"));
    }
    return true;
}

QList<HistorySample> HistoryStore::samples(const QString& server, HistoryTime from, HistoryTime to,
                                           Columns columns) const
{
    const bool all = columns == Columns::All;
    QList<HistorySample> result;
    if (!m_open)
        return result;
    const bool withAddress = all && hasAddressColumn();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT %1 FROM sample s WHERE s.server_id = (SELECT id FROM server WHERE name = ?) "
                       "AND s.time_ns BETWEEN ? AND ? ORDER BY s.time_ns")
            .arg(columnsOf(all, withAddress)));
    q.addBindValue(server);
    q.addBindValue(nanosecondsOf(from));
    q.addBindValue(nanosecondsOf(to));
    if (!q.exec())
        return result;
    while (q.next())
        result.append(sampleFrom(q, server, all, withAddress));
    return result;
}

QList<HistorySample> HistoryStore::lastSamples(const QString& server, int count) const
{
    QList<HistorySample> result;
    if (!m_open)
        return result;
    const bool withAddress = hasAddressColumn();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT %1 FROM sample s WHERE s.server_id = (SELECT id FROM server WHERE name = ?) "
                       "ORDER BY s.time_ns DESC LIMIT ?")
            .arg(columnsOf(true, withAddress)));
    q.addBindValue(server);
    q.addBindValue(count);
    if (!q.exec())
        return result;
    while (q.next())
        result.append(sampleFrom(q, server, true, withAddress));
    std::reverse(result.begin(), result.end());
    return result;
}

bool HistoryStore::forEachSample(const QString& server,
                                 const std::function<bool(const HistorySample&)>& visit) const
{
    if (!m_open)
        return false;
    const QStringList names = server.isEmpty() ? servers() : QStringList{server};
    const bool withAddress = hasAddressColumn();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT %1 FROM sample s WHERE s.server_id = (SELECT id FROM server WHERE name = ?) "
                       "ORDER BY s.time_ns")
            .arg(columnsOf(true, withAddress)));
    for (const QString& name : names) {
        q.addBindValue(name);
        if (!q.exec())
            return false;
        while (q.next()) {
            if (!visit(sampleFrom(q, name, true, withAddress)))
                return true;
        }
    }
    return true;
}

QStringList HistoryStore::servers() const
{
    QStringList names;
    if (!m_open)
        return names;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT name FROM server WHERE EXISTS "
                               "(SELECT 1 FROM sample WHERE sample.server_id = server.id) ORDER BY name")))
        return names;
    while (q.next())
        names.append(q.value(0).toString());
    return names;
}

} // namespace ostrelle
