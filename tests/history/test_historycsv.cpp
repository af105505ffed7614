#include "history/historycsv.h"
#include "history/historystore.h"

#include <QBuffer>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

// 2026-03-04T05:06:07.000000089Z
const HistoryTime When = HistoryTime(1'772'600'767'000'000'089ns);

HistorySample sample(const QString& server, PollOutcome outcome = PollOutcome::Answered,
                     const QString& detail = {})
{
    HistorySample s;
    s.time = When;
    s.server = server;
    s.outcome = outcome;
    s.detail = detail;
    if (outcome == PollOutcome::Answered) {
        s.stratum = 1;
        s.referenceId = {'P', 'P', 'S', 0};
        s.offset = 0.1 + 0.2;
        s.roundTrip = -1.5e-7;
        s.rootDelay = 1.0 / 3.0;
        s.rootDispersion = 0;
    }
    return s;
}

QList<QByteArray> linesOf(const QByteArray& csv)
{
    QList<QByteArray> lines = csv.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestHistoryCsv : public QObject
{
    Q_OBJECT

private slots:
    // The quoting itself is the shared CSV record's, read back by a real parser in the report's tests.
    void shouldWriteAFailureAsOneQuotedUtf8Line()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        const HistorySample failure =
            sample(QStringLiteral("Zürich, \"Øst\""), PollOutcome::Refused, QStringLiteral("mode \"3\""));
        QVERIFY(WriteHistoryCsv(buffer, {failure}));
        const QByteArray csv = buffer.data();
        const qsizetype headerEnd = csv.indexOf("\r\n");
        QVERIFY(headerEnd > 0);
        // The fields an answer alone has stay empty.
        QCOMPARE(csv.mid(headerEnd + 2),
                 "2026-03-04T05:06:07.000000089Z,\"Z\xc3\xbcrich, \"\"\xc3\x98st\"\"\","
                 "refused,\"mode \"\"3\"\"\",,,,,,,,\r\n");
    }

    void shouldKeepEveryDigitOfTimesAndSeconds()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        HistorySample s = sample(QStringLiteral("pps"));
        s.address = QStringLiteral("2001:db8::7");
        QVERIFY(WriteHistoryCsv(buffer, {s}));
        const QList<QByteArray> lines = linesOf(buffer.data());
        QCOMPARE(lines.size(), 2);
        const QList<QByteArray> fields = lines[1].trimmed().split(',');
        QCOMPARE(fields.size(), 12);
        QCOMPARE(fields[11], QByteArray("2001:db8::7"));
        QCOMPARE(fields[0], QByteArray("2026-03-04T05:06:07.000000089Z"));
        QCOMPARE(fields[6], QByteArray("PPS"));
        const double expected[] = {s.offset, s.roundTrip, s.rootDelay, s.rootDispersion};
        for (int i = 0; i < 4; ++i) {
            bool ok = false;
            QCOMPARE(fields[7 + i].toDouble(&ok), expected[i]);
            QVERIFY2(ok && !fields[7 + i].contains('e'), fields[7 + i].constData());
        }
    }

    void shouldExportEveryServerFromTheStore()
    {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            QSKIP("Qt's SQLite driver (libqt6sql6-sqlite) is not installed");
        QTemporaryDir dir;
        HistoryStore store(dir.filePath(QStringLiteral("history.sqlite")));
        QVERIFY(store.open());
        HistorySample later = sample(QStringLiteral("b, second"));
        later.time += 1s;
        QVERIFY(store.append({later, sample(QStringLiteral("b, second")), sample(QStringLiteral("a")),
                              sample(QStringLiteral("c"), PollOutcome::TimedOut)}));

        QBuffer all;
        all.open(QIODevice::WriteOnly);
        QVERIFY(ExportHistoryCsv(store, all));
        const QList<QByteArray> lines = linesOf(all.data());
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[1].contains(",a,"));
        QVERIFY(lines[2].startsWith("2026-03-04T05:06:07.000000089Z,\"b, second\""));
        QVERIFY(lines[3].startsWith("2026-03-04T05:06:08.000000089Z,\"b, second\""));
        QVERIFY(lines[4].contains(",c,timed out,"));

        QBuffer one;
        one.open(QIODevice::WriteOnly);
        QVERIFY(ExportHistoryCsv(store, one, QStringLiteral("c")));
        QCOMPARE(linesOf(one.data()).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestHistoryCsv)
#include "test_historycsv.moc"
