// The history's cost at 10,000 servers: writing a pass, the database's growth, memory, and opening
// the per-server view on a server with 100,000 samples. Peer in the same run: the same samples
// appended to a CSV file, the plainest log there is. Prints, never asserts.

#include "history/historycsv.h"
#include "history/historyplot.h"
#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "history/serverhistorywindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <random>
#include <vector>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

QString loadText()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll().split(' ').mid(0, 3).join(' '));
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double msSince(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// One pass's samples, seeded: 90 % answers, 7 % time-outs, 3 % refused.
QList<HistorySample> passOf(const QStringList& servers, HistoryTime time, std::mt19937_64& random)
{
    std::normal_distribution<double> offset(0.0, 0.002);
    std::uniform_real_distribution<double> trip(0.005, 0.080);
    std::uniform_int_distribution<int> outcome(0, 99);
    QList<HistorySample> pass;
    pass.reserve(servers.size());
    for (const QString& server : servers) {
        HistorySample s;
        s.time = time;
        s.server = server;
        const int roll = outcome(random);
        if (roll < 7) {
            s.outcome = PollOutcome::TimedOut;
        } else if (roll < 10) {
            s.outcome = PollOutcome::Refused;
            s.detail = QStringLiteral("stale originate");
        } else {
            s.stratum = 2;
            s.referenceId = {192, 0, 2, std::uint8_t(roll)};
            s.offset = offset(random);
            s.roundTrip = trip(random);
            s.rootDelay = s.roundTrip / 3;
            s.rootDispersion = 0.0004;
        }
        pass << s;
        time += 1ms;
    }
    return pass;
}

qint64 fileSize(const QString& path)
{
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const int serverCount = 10000;
    // history_bench [passes] [--save-view FILE]: FILE gets a picture of the view on the last day.
    const QStringList arguments = QCoreApplication::arguments();
    const int passes = arguments.size() > 1 && !arguments[1].startsWith(QLatin1Char('-'))
                           ? std::max(2, arguments[1].toInt())
                           : 60;
    const qsizetype saveAt = arguments.indexOf(QStringLiteral("--save-view"));
    const QString viewPicture = saveAt > 0 ? arguments.value(saveAt + 1) : QString();
    QTemporaryDir dir;
    if (!dir.isValid()) {
        out << "cannot create a temporary folder" << Qt::endl;
        return 1;
    }
    out << "history: " << serverCount << " servers, " << passes << " one-minute passes, load " << loadText()
        << Qt::endl;

    QStringList servers;
    for (int i = 0; i < serverCount; ++i)
        servers << QStringLiteral("ntp%1.example.org").arg(i + 1);
    const HistoryTime now =
        std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
    const HistoryTime first = now - passes * 1min;
    // Made again for each contender, outside the timing, from the same seeds.
    const auto passAt = [&](int p) {
        std::mt19937_64 random(20261207 + p);
        return passOf(servers, first + p * 1min, random);
    };
    std::mt19937_64 random(20261207);
    const long baseKiB = residentKiB();

    // The writer's side: what the recorder's thread does once per pass.
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    std::vector<double> storeMs;
    double pruneMs = 0.0;
    {
        HistoryStore store(path, [&out](const QString& message) { out << "fault: " << message << Qt::endl; });
        if (!store.open())
            return 1;
        for (int p = 0; p < passes; ++p) {
            const QList<HistorySample> pass = passAt(p);
            QElapsedTimer timer;
            timer.start();
            store.append(pass);
            storeMs.push_back(msSince(timer));
        }
        QElapsedTimer timer;
        timer.start();
        store.prune(now);
        pruneMs = msSince(timer);
    }
    const qint64 bytes = fileSize(path);

    // The peer: the same passes appended to a CSV file.
    const QString csvPath = dir.filePath(QStringLiteral("history.csv"));
    std::vector<double> csvMs;
    {
        QFile csv(csvPath);
        if (!csv.open(QIODevice::WriteOnly))
            return 1;
        WriteHistoryCsvHeader(csv);
        for (int p = 0; p < passes; ++p) {
            const QList<HistorySample> pass = passAt(p);
            QElapsedTimer timer;
            timer.start();
            for (const HistorySample& s : pass)
                WriteHistoryCsvRow(csv, s);
            csv.flush();
            csvMs.push_back(msSince(timer));
        }
    }
    const qint64 csvBytes = QFileInfo(csvPath).size();

    // The window's side: record() and passFinished() on this thread, the writing on the recorder's.
    const QString livePath = dir.filePath(QStringLiteral("live.sqlite"));
    std::vector<double> recordMs;
    long recorderKiB = 0;
    {
        HistoryRecorder recorder(livePath);
        for (int p = 0; p < passes; ++p) {
            const QList<HistorySample> pass = passAt(p);
            QElapsedTimer timer;
            timer.start();
            for (const HistorySample& s : pass)
                recorder.record(s);
            recorder.flush();
            recordMs.push_back(msSince(timer));
            recorder.waitForWrites();
        }
        recorderKiB = residentKiB();
    }

    const double perDay = 1440.0 / passes;
    out << Qt::endl
        << "| | per pass of 10,000 (median) | per sample | worst pass | size per day |" << Qt::endl
        << "|---|---|---|---|---|" << Qt::endl;
    out << QStringLiteral(
               "| SQLite store, one transaction (writer thread) | %1 ms | %2 µs | %3 ms | %4 MiB |")
               .arg(median(storeMs), 0, 'f', 1)
               .arg(median(storeMs) * 1000 / serverCount, 0, 'f', 2)
               .arg(*std::max_element(storeMs.begin(), storeMs.end()), 0, 'f', 1)
               .arg(bytes * perDay / 1048576.0, 0, 'f', 0)
        << Qt::endl;
    out << QStringLiteral("| record() + flush() on the window's thread | %1 ms | %2 µs | %3 ms | |")
               .arg(median(recordMs), 0, 'f', 2)
               .arg(median(recordMs) * 1000 / serverCount, 0, 'f', 3)
               .arg(*std::max_element(recordMs.begin(), recordMs.end()), 0, 'f', 2)
        << Qt::endl;
    out << QStringLiteral("| *peer: CSV appended to a file* | %1 ms | %2 µs | %3 ms | %4 MiB |")
               .arg(median(csvMs), 0, 'f', 1)
               .arg(median(csvMs) * 1000 / serverCount, 0, 'f', 2)
               .arg(*std::max_element(csvMs.begin(), csvMs.end()), 0, 'f', 1)
               .arg(csvBytes * perDay / 1048576.0, 0, 'f', 0)
        << Qt::endl;
    out << Qt::endl
        << QStringLiteral("database after %1 passes: %2 MiB (%3 bytes per sample); retention pass over %4 "
                          "servers: %5 ms")
               .arg(passes)
               .arg(bytes / 1048576.0, 0, 'f', 1)
               .arg(double(bytes) / (double(passes) * serverCount), 0, 'f', 1)
               .arg(serverCount)
               .arg(pruneMs, 0, 'f', 0)
        << Qt::endl;
    out << QStringLiteral("resident memory: %1 MiB before history (Qt and 10,000 names), %2 MiB with the "
                          "recorder open after %3 passes")
               .arg(baseKiB / 1024.0, 0, 'f', 1)
               .arg(recorderKiB / 1024.0, 0, 'f', 1)
               .arg(passes)
        << Qt::endl;

    // One server with 100,000 samples, one every 25 s: the 30 days that retention keeps. Nine
    // other servers are polled in the same passes, so that its rows lie scattered in the table
    // as they do in a real database.
    const QString bigPath = dir.filePath(QStringLiteral("big.sqlite"));
    const QString busy = QStringLiteral("ntp.busy.example.org");
    QStringList bigPass = {busy};
    for (int i = 1; i < 10; ++i)
        bigPass << QStringLiteral("ntp%1.example.org").arg(i);
    {
        HistoryStore store(bigPath);
        if (!store.open())
            return 1;
        QList<HistorySample> chunk;
        for (int step = 0; step < 100000; ++step) {
            chunk.append(passOf(bigPass, now - (100000 - step) * 25s, random));
            if (chunk.size() >= 100000 || step == 99999) {
                store.append(chunk);
                chunk.clear();
            }
        }
    }
    HistoryRecorder recorder(bigPath);
    recorder.waitForWrites();
    out << Qt::endl
        << "| open the view on 100,000 samples among 1,000,000 (median of 5) | span | samples | read | "
        << "figures + plot + shown |" << Qt::endl
        << "|---|---|---|---|---|" << Qt::endl;
    for (auto span : {ServerHistoryWindow::Span::All, ServerHistoryWindow::Span::LastWeek,
                      ServerHistoryWindow::Span::LastDay}) {
        std::vector<double> total;
        std::vector<double> read;
        qsizetype shown = 0;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer readTimer;
            readTimer.start();
            const HistoryTime from = span == ServerHistoryWindow::Span::All        ? HistoryTime::min()
                                     : span == ServerHistoryWindow::Span::LastWeek ? now - 7 * 24h
                                                                                   : now - 24h;
            recorder.samples(busy, from, HistoryTime::max());
            read.push_back(msSince(readTimer));

            QElapsedTimer timer;
            timer.start();
            ServerHistoryWindow window(busy, recorder);
            window.setSpan(span);
            window.resize(1000, 520);
            window.show();
            QCoreApplication::processEvents();
            const QPixmap picture = window.grab();
            total.push_back(msSince(timer));
            shown = window.statistics().samples;
            if (span == ServerHistoryWindow::Span::LastDay && !viewPicture.isEmpty())
                picture.save(viewPicture);
        }
        const char* names[] = {"last hour", "last day", "last week", "all"};
        out << QStringLiteral("| | %1 | %2 | %3 ms | **%4 ms** |")
                   .arg(QLatin1String(names[int(span)]))
                   .arg(shown)
                   .arg(median(read), 0, 'f', 1)
                   .arg(median(total), 0, 'f', 1)
            << Qt::endl;
    }
    out << QStringLiteral("resident memory with the view opened: %1 MiB")
               .arg(residentKiB() / 1024.0, 0, 'f', 1)
        << Qt::endl;
    return 0;
}
