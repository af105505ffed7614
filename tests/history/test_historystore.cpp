#include "history/historyrecorder.h"
#include "history/historystore.h"

#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

const HistoryTime Now = HistoryTime(1'780'000'000'123'456'789ns);

HistorySample answer(const QString& server, HistoryTime time, double offset = 0.000123456789012345)
{
    HistorySample s;
    s.time = time;
    s.server = server;
    s.stratum = 2;
    s.leap = 1;
    s.referenceId = {192, 0, 2, 255};
    s.offset = offset;
    s.roundTrip = 0.1 + 0.2;
    s.rootDelay = 1.0 / 3.0;
    s.rootDispersion = 5e-10;
    return s;
}

HistorySample failure(const QString& server, HistoryTime time, PollOutcome outcome, const QString& detail)
{
    HistorySample s;
    s.time = time;
    s.server = server;
    s.outcome = outcome;
    s.detail = detail;
    return s;
}

QList<HistoryTime> timesOf(const QList<HistorySample>& samples)
{
    QList<HistoryTime> times;
    for (const HistorySample& s : samples)
        times << s.time;
    return times;
}

// Records the fault messages a store or recorder reports.
struct Faults
{
    HistoryStore::FaultHandler handler()
    {
        return [this](const QString& message) { messages << message; };
    }
    QStringList messages;
};

} // namespace

class TestHistoryStore : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            QSKIP("Qt's SQLite driver (libqt6sql6-sqlite) is not installed");
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath(QStringLiteral("sub/history.sqlite"));
    }

    void shouldReadBackEverySampleExactly()
    {
        QList<HistorySample> written = {
            answer(QStringLiteral("ntp.example.org"), Now),
            failure(QStringLiteral("ntp.example.org"), Now + 1ns, PollOutcome::TimedOut, {}),
            failure(QStringLiteral("ntp.example.org"), Now + 2s, PollOutcome::Refused,
                    QStringLiteral("stale originate")),
            failure(QStringLiteral("Zürich, \"Ost\""), Now + 3s, PollOutcome::KissOfDeath,
                    QStringLiteral("RATE")),
            answer(QStringLiteral("Zürich, \"Ost\""), Now + 4s, -1.5e-9),
        };
        written[4].address = QStringLiteral("2001:db8::7");
        Faults faults;
        {
            HistoryStore store(m_path, faults.handler());
            QVERIFY(store.open());
            QVERIFY(store.append(written.mid(0, 2)));
            QVERIFY(store.append(written.mid(2)));
        }
        // A new connection, as the next start of the program would open it.
        HistoryStore store(m_path, faults.handler());
        QVERIFY(store.open(HistoryStore::Mode::ReadOnly));
        QCOMPARE(store.servers(),
                 (QStringList{QStringLiteral("Zürich, \"Ost\""), QStringLiteral("ntp.example.org")}));
        QCOMPARE(store.samples(QStringLiteral("ntp.example.org"), Now, Now + 2s), written.mid(0, 3));
        QCOMPARE(store.samples(QStringLiteral("ntp.example.org"), Now + 1ns, Now + 1s), written.mid(1, 1));
        QCOMPARE(store.lastSamples(QStringLiteral("Zürich, \"Ost\""), 1), written.mid(4));
        QCOMPARE(store.lastSamples(QStringLiteral("Zürich, \"Ost\""), 10), written.mid(3));
        QVERIFY(faults.messages.isEmpty());
    }

    // A file of the version before samples kept their address: read as it is, and given the column,
    // with its samples intact, once opened for writing.
    void shouldOpenADatabaseWrittenBeforeAddressesWereKept()
    {
        const HistorySample old = answer(QStringLiteral("pool.example"), Now);
        {
            HistoryStore store(m_path);
            QVERIFY(store.open());
            QVERIFY(store.append({old}));
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
            db.setDatabaseName(m_path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY2(q.exec(QStringLiteral("ALTER TABLE sample DROP COLUMN address")),
                     qPrintable(q.lastError().text()));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("older"));

        Faults faults;
        HistoryStore reader(m_path, faults.handler());
        QVERIFY(reader.open(HistoryStore::Mode::ReadOnly));
        QCOMPARE(reader.lastSamples(old.server, 10), QList{old});
        HistorySample pooled = answer(old.server, Now + 1s);
        pooled.address = QStringLiteral("127.0.0.2");
        {
            HistoryStore writer(m_path, faults.handler());
            QVERIFY(writer.open());
            QVERIFY(writer.append({pooled}));
        }
        // The reader that opened the older file sees the column the writer added.
        QCOMPARE(reader.lastSamples(old.server, 10), (QList{old, pooled}));
        QVERIFY2(faults.messages.isEmpty(), qPrintable(faults.messages.join('\n')));
    }

    void shouldDropSamplesByAgeAndByCount()
    {
        const QString old = QStringLiteral("old");
        const QString busy = QStringLiteral("busy");
        Faults faults;
        HistoryStore store(m_path, faults.handler());
        QVERIFY(store.open());
        QVERIFY(
            store.append({answer(old, Now - 31 * 24h), answer(old, Now - 29 * 24h), answer(old, Now - 1h)}));
        QList<HistorySample> many;
        for (int i = 0; i < 10; ++i)
            many << answer(busy, Now - 10s + i * 1s);
        QVERIFY(store.append(many));

        const HistoryRetention retention{30 * 24h, 4};
        QVERIFY(store.prune(Now, retention));
        QCOMPARE(timesOf(store.lastSamples(old, 10)), (QList<HistoryTime>{Now - 29 * 24h, Now - 1h}));
        QCOMPARE(timesOf(store.lastSamples(busy, 10)), timesOf(many.mid(6)));

        // Samples written after a prune count too.
        QVERIFY(store.append({answer(busy, Now + 1s), answer(busy, Now + 2s), answer(busy, Now + 3s)}));
        QVERIFY(store.prune(Now, retention));
        QCOMPARE(timesOf(store.lastSamples(busy, 10)),
                 (QList<HistoryTime>{Now - 1s, Now + 1s, Now + 2s, Now + 3s}));
        QCOMPARE(store.lastSamples(old, 10).size(), 2);
        QVERIFY(faults.messages.isEmpty());
    }

    void shouldMoveADamagedFileAsideAndStartAfresh()
    {
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
        const QByteArray garbage =
            QByteArray("not a database, but the operator's only copy of it\n").repeated(200);
        {
            QFile file(m_path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(garbage);
        }
        Faults faults;
        HistoryStore store(m_path, faults.handler());
        QVERIFY(store.open());
        QVERIFY(store.append({answer(QStringLiteral("a"), Now)}));
        QCOMPARE(store.lastSamples(QStringLiteral("a"), 5).size(), 1);

        QCOMPARE(faults.messages.size(), 1);
        const QStringList aside = QDir(QFileInfo(m_path).absolutePath())
                                      .entryList({QStringLiteral("history.sqlite.damaged-*")}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QVERIFY2(faults.messages[0].contains(m_path) && faults.messages[0].contains(aside[0]),
                 qPrintable(faults.messages[0]));
        QFile kept(QFileInfo(m_path).absolutePath() + QLatin1Char('/') + aside[0]);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), garbage);
    }

    void shouldTurnOffOnceWhenAnotherConnectionHoldsTheLock()
    {
        Faults faults;
        HistoryStore store(m_path, faults.handler());
        store.setBusyTimeout(50ms);
        QVERIFY(store.open());
        QVERIFY(store.append({answer(QStringLiteral("a"), Now)}));
        {
            QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(m_path);
            QVERIFY(other.open());
            QSqlQuery hold(other);
            QVERIFY2(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")), qPrintable(hold.lastError().text()));

            QVERIFY(!store.append({answer(QStringLiteral("a"), Now + 1s)}));
            QVERIFY(!store.append({answer(QStringLiteral("a"), Now + 2s)}));
            QVERIFY(!store.prune(Now));
            QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        QCOMPARE(faults.messages.size(), 1);
        QVERIFY2(faults.messages[0].contains(QStringLiteral("locked")) && faults.messages[0].contains(m_path),
                 qPrintable(faults.messages[0]));
        QVERIFY(!store.isOpen());

        HistoryStore reader(m_path);
        QVERIFY(reader.open(HistoryStore::Mode::ReadOnly));
        QCOMPARE(reader.lastSamples(QStringLiteral("a"), 5).size(), 1);
    }

    // A database the recorder cannot make at all is the window's test (a file where its folder
    // should be); here a second copy of the program holds it.
    void shouldTurnOffOnceWhenAnotherCopyHoldsTheDatabase()
    {
        QLockFile firstCopy(m_path + QStringLiteral(".lock"));
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()) && firstCopy.tryLock(0));

        HistoryRecorder recorder(m_path);
        QSignalSpy faults(&recorder, &HistoryRecorder::fault);
        QVERIFY(faults.wait(5000));
        QVERIFY(!recorder.isEnabled());
        for (int pass = 0; pass < 2; ++pass) {
            recorder.record(answer(QStringLiteral("a"), Now + pass * 1s));
            recorder.passFinished();
            recorder.waitForWrites();
        }
        QVERIFY(recorder.samples(QStringLiteral("a"), Now - 1h, Now + 1h).isEmpty());
        QTest::qWait(20);
        QCOMPARE(faults.size(), 1);
        const QString message = faults[0][0].toString();
        QVERIFY2(message.contains("another copy") && message.contains(m_dir->path()), qPrintable(message));
    }

    void shouldWriteRecordedSamplesOffTheCallingThread()
    {
        const HistoryTime now =
            std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
        QList<HistorySample> pass;
        for (int i = 0; i < 50; ++i)
            pass << answer(QStringLiteral("server %1").arg(i % 5), now + i * 1ms, i * 1e-6);
        HistoryRecorder recorder(m_path);
        QSignalSpy stored(&recorder, &HistoryRecorder::samplesStored);
        QSignalSpy faults(&recorder, &HistoryRecorder::fault);
        for (const HistorySample& s : pass)
            recorder.record(s);
        recorder.passFinished();
        QVERIFY(stored.wait(5000));
        QStringList servers = stored[0][0].toStringList();
        servers.sort();
        QCOMPARE(servers, recorder.servers());
        QCOMPARE(servers.size(), 5);
        QCOMPARE(recorder.samples(QStringLiteral("server 3"), now, HistoryTime::max()).size(), 10);

        // A second pass within the second waits for the second to end, then goes in one transaction.
        recorder.record(answer(QStringLiteral("server 3"), now + 1s));
        recorder.passFinished();
        QVERIFY(stored.wait(5000));
        QCOMPARE(stored.size(), 2);
        QCOMPARE(recorder.samples(QStringLiteral("server 3"), now, HistoryTime::max()).size(), 11);
        QVERIFY(faults.isEmpty());
    }

    // Where the README says: the user's local data folder, never a roaming profile on Windows.
    void shouldKeepTheDatabaseInTheUsersLocalDataFolder()
    {
#ifdef Q_OS_WIN
        const QString data = qEnvironmentVariable("LOCALAPPDATA");
#else
        const std::optional<QByteArray> saved = qEnvironmentVariableIsSet("XDG_DATA_HOME")
                                                    ? std::optional(qgetenv("XDG_DATA_HOME"))
                                                    : std::nullopt;
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->path()));
        const QString data = m_dir->path();
#endif
        QCoreApplication::setOrganizationName(QStringLiteral("Brevikon"));
        QCoreApplication::setApplicationName(QStringLiteral("Ostrelle"));
        const QString path = HistoryStore::defaultPath();
        QCoreApplication::setOrganizationName(QString());
        QCoreApplication::setApplicationName(QString());
#ifndef Q_OS_WIN
        if (saved)
            qputenv("XDG_DATA_HOME", *saved);
        else
            qunsetenv("XDG_DATA_HOME");
#endif
        QVERIFY(!data.isEmpty());
        QCOMPARE(QDir::toNativeSeparators(path),
                 QDir::toNativeSeparators(data + QStringLiteral("/Brevikon/Ostrelle/history.sqlite")));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "test_historystore.moc"
