#include "history/historyplot.h"
#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "history/serverhistorywindow.h"

#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace ostrelle;
using namespace std::chrono_literals;

namespace {

const HistoryTime Start = HistoryTime(1'780'000'000s);

// An hour of one sample a minute: offset a sine between -2 and +2 units, round trip 1 to 3
// units, a time-out at minute 30.
QList<HistorySample> hourOfSamples(double unit, HistoryTime start = Start, const QString& server = "s")
{
    QList<HistorySample> list;
    for (int minute = 0; minute <= 60; ++minute) {
        HistorySample s;
        s.time = start + minute * 1min;
        s.server = server;
        if (minute == 30) {
            s.outcome = PollOutcome::TimedOut;
        } else {
            s.offset = 2 * unit * std::sin(minute / 60.0 * 2 * M_PI);
            s.roundTrip = unit * (2 + std::cos(minute / 7.0));
            s.rootDispersion = 0.25;
        }
        list << s;
    }
    return list;
}

QImage render(HistoryPlot& plot)
{
    plot.resize(640, 360);
    QImage image(plot.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    plot.render(&image);
    return image;
}

// The bounding box of the pixels of one colour.
QRect pixelsOf(const QImage& image, const QColor& colour)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] & 0xffffff) == (colour.rgb() & 0xffffff))
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

} // namespace

class TestHistoryPlot : public QObject
{
    Q_OBJECT

private slots:
    void shouldDrawInsideTheFrameWithTheUnitThatFits_data()
    {
        QTest::addColumn<double>("unit");
        QTest::addColumn<QString>("name");
        QTest::newRow("microseconds") << 1e-5 << QStringLiteral("µs");
        QTest::newRow("milliseconds") << 1e-3 << QStringLiteral("ms");
        QTest::newRow("seconds") << 2.0 << QStringLiteral("s");
    }

    void shouldDrawInsideTheFrameWithTheUnitThatFits()
    {
        QFETCH(double, unit);
        QFETCH(QString, name);

        HistoryPlot plot;
        plot.setSamples(hourOfSamples(unit), Start, Start + 1h);
        const QImage image = render(plot);
        const QRect area = plot.plotArea();

        const QRect offset = pixelsOf(image, HistoryPlot::OffsetColor);
        const QRect trip = pixelsOf(image, HistoryPlot::RoundTripColor);
        QVERIFY2(area.contains(offset) && area.contains(trip), "a curve left the frame");
        // From -2 to +3 units the offset spans four fifths of the values: most of the height.
        QVERIFY2(offset.height() > area.height() * 6 / 10, qPrintable(QString::number(offset.height())));
        QVERIFY2(offset.width() > area.width() * 95 / 100, qPrintable(QString::number(offset.width())));
        QVERIFY(trip.top() <= offset.top() + 2);

        // The time-out is marked under the frame, in the middle of the hour.
        const QRect timedOut = pixelsOf(image, HistoryPlot::TimedOutColor);
        QVERIFY(!timedOut.isEmpty());
        QVERIFY(timedOut.top() > area.bottom());
        QVERIFY2(qAbs(timedOut.center().x() - area.center().x()) <= 2,
                 qPrintable(QString::number(timedOut.x())));

        QCOMPARE(plot.valueUnit(), name);
        const QStringList labels = plot.valueAxisLabels();
        QVERIFY(labels.size() >= 3);
        for (const QString& label : labels)
            QVERIFY2(label.endsWith(QLatin1Char(' ') + name), qPrintable(label));
        // The labels cover the values, from -2 to +3 units.
        const double scale = name == QStringLiteral("µs") ? 1e-6 : name == QStringLiteral("ms") ? 1e-3 : 1.0;
        const auto valueOf = [scale](const QString& label) {
            return label.section(QLatin1Char(' '), 0, 0).toDouble() * scale;
        };
        QVERIFY2(valueOf(labels.first()) <= -2 * unit + 1e-12, qPrintable(labels.first()));
        QVERIFY2(valueOf(labels.last()) >= 3 * unit - 1e-12, qPrintable(labels.last()));
        QVERIFY2(valueOf(labels.last()) < 6 * unit, qPrintable(labels.last()));
        QVERIFY(plot.timeAxisLabels().size() >= 4);
    }

    void shouldDescribeTheSampleNearestTheMouse()
    {
        HistoryPlot plot;
        plot.setSamples(hourOfSamples(1e-3), Start, Start + 1h);
        render(plot);
        const QRect area = plot.plotArea();
        const auto at = [&](double fraction) {
            return QPoint(area.left() + int(fraction * (area.width() - 1)), 50);
        };

        QCOMPARE(plot.nearestSample(at(0.0)), std::optional<qsizetype>(0));
        QCOMPARE(plot.nearestSample(at(0.5)), std::optional<qsizetype>(30));
        QCOMPARE(plot.nearestSample(at(15.4 / 60)), std::optional<qsizetype>(15));
        QCOMPARE(plot.nearestSample(at(1.0)), std::optional<qsizetype>(60));
        QVERIFY(!plot.nearestSample(QPoint(2, 50)));

        QVERIFY2(plot.describeSample(30).contains(QStringLiteral("timed out")),
                 qPrintable(plot.describeSample(30)));
        // Minute 15 is the sine's top: an offset of 2 ms.
        QVERIFY2(plot.describeSample(15).contains(QStringLiteral("offset 2.00 ms")),
                 qPrintable(plot.describeSample(15)));

        // Without samples only the frame is drawn, and nothing is near the mouse.
        plot.setSamples({}, Start, Start + 1h);
        const QImage empty = render(plot);
        QVERIFY(pixelsOf(empty, HistoryPlot::OffsetColor).isEmpty() &&
                pixelsOf(empty, HistoryPlot::RoundTripColor).isEmpty());
        QVERIFY(plot.valueAxisLabels().isEmpty() && !plot.nearestSample(at(0.5)));
    }

    void shouldShowStoredHistoryAndFollowNewSamples()
    {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            QSKIP("Qt's SQLite driver (libqt6sql6-sqlite) is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        const QString server = QStringLiteral("ntp, \"lab\"");
        const HistoryTime now =
            std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
        {
            // Written by an earlier run: three hours ago and the last hour, and another server.
            HistoryStore earlier(path);
            QVERIFY(earlier.open());
            QVERIFY(earlier.append(hourOfSamples(1e-3, now - 3h - 1min, server)));
            QVERIFY(earlier.append(hourOfSamples(1e-3, now - 1h - 1min, server)));
            QVERIFY(earlier.append(hourOfSamples(1e-3, now - 1h, QStringLiteral("other"))));
        }
        HistoryRecorder recorder(path);
        ServerHistoryWindow window(server, recorder, nullptr, [now] { return now; });
        window.show();
        QCOMPARE(window.windowTitle(), server);
        QCOMPARE(window.statistics().samples, 122);
        QCOMPARE(window.statistics().answered, 120);
        window.setSpan(ServerHistoryWindow::Span::LastHour);
        QCOMPARE(window.statistics().samples, 60);

        HistorySample fresh = hourOfSamples(1e-3, now, server)[15];
        recorder.record(fresh);
        fresh.server = QStringLiteral("other");
        recorder.record(fresh);
        recorder.passFinished();
        QTRY_COMPARE(window.statistics().samples, 61);
        QCOMPARE(window.plot()->samples().last().time, fresh.time);
        QVERIFY(qAbs(*window.statistics().offsetMax - 0.002) < 1e-12);

        QString suggested;
        const QString target = dir.filePath(QStringLiteral("export.csv"));
        window.setSaveFileChooser([&](QWidget*, const QString& name) {
            suggested = name;
            return target;
        });
        auto* exportButton = window.findChild<QPushButton*>(QStringLiteral("exportButton"));
        QVERIFY(exportButton);
        exportButton->click();
        QVERIFY2(suggested.endsWith(QStringLiteral(".csv")) && !suggested.contains(QLatin1Char('"')),
                 qPrintable(suggested));
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 1 + 61 + 1);
    }
};

QTEST_MAIN(TestHistoryPlot)
#include "test_historyplot.moc"
