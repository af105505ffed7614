#include "history/serverhistorywindow.h"

#include "history/historycsv.h"
#include "history/historyplot.h"
#include "history/historyrecorder.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QVBoxLayout>

namespace ostrelle {

namespace {

constexpr std::chrono::hours SpanLengths[] = {std::chrono::hours(1), std::chrono::hours(24),
                                              std::chrono::hours(24 * 7)};

QString secondsOrDash(const std::optional<double>& value)
{
    return value ? HistorySecondsText(*value) : QStringLiteral("–");
}

} // namespace

ServerHistoryWindow::ServerHistoryWindow(const QString& server, HistoryRecorder& recorder, QWidget* parent,
                                         Now now)
    : QWidget(parent, Qt::Window), m_server(server), m_recorder(recorder),
      m_chooseFile([](QWidget* owner, const QString& suggested) {
          return QFileDialog::getSaveFileName(owner, tr("Export history"), suggested,
                                              tr("CSV files (*.csv)"));
      }),
      m_now(now ? std::move(now) : Now([] {
          return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
      }))
{
    setObjectName(QStringLiteral("serverHistoryWindow"));
    setWindowTitle(server);

    m_plot = new HistoryPlot(this);
    m_span = new QComboBox(this);
    m_span->setObjectName(QStringLiteral("spanChoice"));
    m_span->addItems({tr("Last hour"), tr("Last day"), tr("Last week"), tr("All")});
    m_span->setCurrentIndex(static_cast<int>(Span::LastDay));
    auto* exportButton = new QPushButton(tr("Export…"), this);
    exportButton->setObjectName(QStringLiteral("exportButton"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);

    auto* figures = new QFormLayout;
    const QStringList names = {tr("Samples"),           tr("Availability"), tr("Offset median"),
                               tr("Offset min"),        tr("Offset max"),   tr("Jitter"),
                               tr("Round-trip median"), tr("Last stratum"), tr("Last reference")};
    for (const QString& name : names) {
        auto* value = new QLabel(this);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        figures->addRow(name + QLatin1Char(':'), value);
        m_figureValues.append(value);
    }
    auto* legend = new QHBoxLayout;
    const std::pair<QString, QColor> keys[] = {{tr("offset"), HistoryPlot::OffsetColor},
                                               {tr("round trip"), HistoryPlot::RoundTripColor},
                                               {tr("time-out"), HistoryPlot::TimedOutColor},
                                               {tr("refused"), HistoryPlot::RefusedColor}};
    for (const auto& [name, colour] : keys) {
        auto* key =
            new QLabel(QStringLiteral("<span style=\"color:%1\">■</span> %2").arg(colour.name(), name), this);
        legend->addWidget(key);
    }
    auto* side = new QVBoxLayout;
    side->addWidget(m_span);
    side->addLayout(legend);
    side->addLayout(figures);
    side->addStretch();
    side->addWidget(exportButton);

    auto* top = new QHBoxLayout;
    top->addWidget(m_plot, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(m_status);

    connect(m_span, &QComboBox::currentIndexChanged, this, &ServerHistoryWindow::reload);
    connect(exportButton, &QPushButton::clicked, this, &ServerHistoryWindow::exportWithDialog);
    connect(&m_recorder, &HistoryRecorder::samplesStored, this, &ServerHistoryWindow::samplesStored);
    connect(&m_recorder, &HistoryRecorder::fault, m_status, &QLabel::setText);
}

void ServerHistoryWindow::showEvent(QShowEvent* event)
{
    // Read when first shown, so that a span chosen before costs one read, not two.
    if (!m_loaded)
        reload();
    QWidget::showEvent(event);
}

void ServerHistoryWindow::setSpan(Span span)
{
    m_span->setCurrentIndex(static_cast<int>(span));
}

ServerHistoryWindow::Span ServerHistoryWindow::span() const
{
    return static_cast<Span>(m_span->currentIndex());
}

HistoryTime ServerHistoryWindow::spanStart() const
{
    if (span() == Span::All)
        return HistoryTime::min();
    return m_now() - SpanLengths[m_span->currentIndex()];
}

void ServerHistoryWindow::reload()
{
    m_loaded = true;
    showSamples(m_recorder.samples(m_server, spanStart(), HistoryTime::max()));
}

void ServerHistoryWindow::samplesStored(const QStringList& servers)
{
    if (!servers.contains(m_server))
        return;
    // Only what is newer than the last sample shown is read: a long history stays cheap to follow.
    QList<HistorySample> samples = m_plot->samples();
    const HistoryTime after =
        samples.isEmpty() ? spanStart() : samples.last().time + std::chrono::nanoseconds(1);
    samples.append(m_recorder.samples(m_server, after, HistoryTime::max()));
    const HistoryTime start = spanStart();
    const auto kept = std::find_if(samples.begin(), samples.end(),
                                   [start](const HistorySample& s) { return s.time >= start; });
    samples.erase(samples.begin(), kept);
    showSamples(std::move(samples));
}

std::pair<HistoryTime, HistoryTime> ServerHistoryWindow::axisRange(const QList<HistorySample>& samples) const
{
    const HistoryTime now = m_now();
    if (span() != Span::All)
        return {spanStart(), samples.isEmpty() ? now : std::max(now, samples.last().time)};
    if (samples.isEmpty())
        return {now - SpanLengths[0], now};
    return {samples.first().time, samples.last().time};
}

void ServerHistoryWindow::showSamples(QList<HistorySample> samples)
{
    m_statistics = ComputeHistoryStatistics(samples);
    const auto [from, to] = axisRange(samples);
    m_plot->setSamples(std::move(samples), from, to);
    showFigures();
}

void ServerHistoryWindow::showFigures()
{
    const HistoryStatistics& s = m_statistics;
    const QStringList texts = {
        QString::number(s.samples),
        s.samples ? QStringLiteral("%1 %").arg(s.availabilityPercent, 0, 'f', 1) : QStringLiteral("–"),
        secondsOrDash(s.offsetMedian),
        secondsOrDash(s.offsetMin),
        secondsOrDash(s.offsetMax),
        secondsOrDash(s.jitter),
        secondsOrDash(s.roundTripMedian),
        s.lastStratum ? QString::number(*s.lastStratum) : QStringLiteral("–"),
        s.lastStratum ? s.lastReference : QStringLiteral("–"),
    };
    for (qsizetype i = 0; i < texts.size(); ++i)
        m_figureValues[i]->setText(texts[i]);
}

void ServerHistoryWindow::exportWithDialog()
{
    QString suggested = m_server;
    suggested.replace(QRegularExpression(QStringLiteral("[^\\w.-]")), QStringLiteral("_"));
    const QString fileName = m_chooseFile(this, suggested + QStringLiteral("-history.csv"));
    if (!fileName.isEmpty())
        exportTo(fileName);
}

bool ServerHistoryWindow::exportTo(const QString& fileName)
{
    // The plot holds only the columns it draws; the file gets every column of the same span.
    const QList<HistorySample>& shown = m_plot->samples();
    const QList<HistorySample> samples =
        shown.isEmpty() ? shown
                        : m_recorder.reader()->samples(m_server, shown.first().time, shown.last().time);
    QSaveFile file(fileName);
    const bool ok = file.open(QIODevice::WriteOnly) && WriteHistoryCsv(file, samples) && file.commit();
    m_status->setText(ok ? tr("Exported %n sample(s) to %1.", nullptr, int(samples.size())).arg(fileName)
                         : tr("Could not export to %1: %2").arg(fileName, file.errorString()));
    return ok;
}

} // namespace ostrelle
