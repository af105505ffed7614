#include "history/historyplot.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <vector>

namespace ostrelle {

namespace {

constexpr int TopMargin = 10;
constexpr int RightMargin = 14;
constexpr int MarkHeight = 6;

struct Unit
{
    double scale;
    QString name;
};

Unit unitFor(double magnitude)
{
    if (magnitude < 1e-3)
        return {1e6, QStringLiteral("µs")};
    if (magnitude < 1.0)
        return {1e3, QStringLiteral("ms")};
    return {1.0, QStringLiteral("s")};
}

double secondsBetween(HistoryTime from, HistoryTime to)
{
    return std::chrono::duration<double>(to - from).count();
}

// 1, 2 or 5 times a power of ten, at least raw.
double niceStep(double raw)
{
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double residual = raw / magnitude;
    const double factor = residual <= 1.0 ? 1.0 : residual <= 2.0 ? 2.0 : residual <= 5.0 ? 5.0 : 10.0;
    return factor * magnitude;
}

QDateTime localTimeOf(HistoryTime time)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
}

} // namespace

QString HistorySecondsText(double seconds)
{
    if (seconds == 0.0)
        return QStringLiteral("0 s");
    const Unit unit = unitFor(std::abs(seconds));
    const double value = seconds * unit.scale;
    const int decimals = std::abs(value) >= 100.0 ? 0 : std::abs(value) >= 10.0 ? 1 : 2;
    return QString::number(value, 'f', decimals) + QLatin1Char(' ') + unit.name;
}

HistoryPlot::HistoryPlot(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("historyPlot"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void HistoryPlot::setSamples(QList<HistorySample> samples, HistoryTime from, HistoryTime to)
{
    m_samples = std::move(samples);
    m_from = from;
    m_to = to > from ? to : from + std::chrono::seconds(1);
    m_hover.reset();
    layoutValueAxis();
    update();
}

void HistoryPlot::layoutValueAxis()
{
    m_valueTicks.clear();
    m_unit.clear();
    bool any = false;
    double low = 0.0;
    double high = 0.0;
    for (const HistorySample& s : m_samples) {
        if (!s.answered())
            continue;
        any = true;
        low = std::min({low, s.offset, s.roundTrip});
        high = std::max({high, s.offset, s.roundTrip});
    }
    if (!any)
        return;
    if (high - low < 1e-9) {
        low -= 1e-6;
        high += 1e-6;
    }
    const double step = niceStep((high - low) / 5.0);
    m_low = std::floor(low / step) * step;
    m_high = std::ceil(high / step) * step;
    const Unit unit = unitFor(std::max(std::abs(m_low), std::abs(m_high)));
    m_unit = unit.name;
    const int decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step * unit.scale) - 1e-9)));
    const int count = static_cast<int>(std::lround((m_high - m_low) / step));
    for (int i = 0; i <= count; ++i) {
        double value = m_low + i * step;
        if (std::abs(value) < step / 2)
            value = 0.0; // the zero line, free of rounding residue
        m_valueTicks.append(
            {value, QString::number(value * unit.scale, 'f', decimals) + QLatin1Char(' ') + unit.name});
    }
}

QStringList HistoryPlot::valueAxisLabels() const
{
    QStringList texts;
    for (const Tick& tick : m_valueTicks)
        texts << tick.text;
    return texts;
}

QStringList HistoryPlot::timeAxisLabels() const
{
    QStringList texts;
    for (const Tick& tick : timeTicks())
        texts << tick.text;
    return texts;
}

QRect HistoryPlot::plotArea() const
{
    const QFontMetrics metrics = fontMetrics();
    int labelWidth = metrics.horizontalAdvance(QStringLiteral("-000.0 ms"));
    for (const Tick& tick : m_valueTicks)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(tick.text));
    const int left = labelWidth + 10;
    const int bottom = metrics.height() + MarkHeight + 10;
    return QRect(left, TopMargin, std::max(10, width() - left - RightMargin),
                 std::max(10, height() - TopMargin - bottom));
}

QList<HistoryPlot::Tick> HistoryPlot::timeTicks() const
{
    QList<Tick> ticks;
    if (m_to <= m_from)
        return ticks;
    static const double steps[] = {1,    2,    5,    10,    15,    30,    60,    120,    300,    600,    900,
                                   1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800, 1209600};
    const double span = secondsBetween(m_from, m_to);
    double step = steps[std::size(steps) - 1];
    for (double candidate : steps) {
        if (candidate >= span / 6.0) {
            step = candidate;
            break;
        }
    }
    while (step < span / 6.0)
        step *= 2;
    // Ticks fall on round local times: whole hours, midnights.
    const QDateTime start = localTimeOf(m_from);
    const double local =
        std::chrono::duration<double>(m_from.time_since_epoch()).count() + start.offsetFromUtc();
    const QString format = step < 60      ? QStringLiteral("HH:mm:ss")
                           : step < 86400 ? QStringLiteral("HH:mm")
                                          : QStringLiteral("d MMM");
    for (double t = std::ceil(local / step) * step; t - local <= span; t += step) {
        const double offset = t - local;
        const auto at = m_from + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::duration<double>(offset));
        ticks.append({offset, QLocale::c().toString(localTimeOf(at), format)});
    }
    return ticks;
}

QRect HistoryPlot::dataArea() const
{
    // Inset so that the dots of a sparse plot stay inside the frame as well.
    return plotArea().adjusted(2, 2, -2, -2);
}

double HistoryPlot::xOf(HistoryTime time, const QRect& area) const
{
    return area.left() + secondsBetween(m_from, time) / secondsBetween(m_from, m_to) * (area.width() - 1);
}

double HistoryPlot::yOf(double seconds, const QRect& area) const
{
    return area.bottom() - (seconds - m_low) / (m_high - m_low) * (area.height() - 1);
}

void HistoryPlot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QRect frame = plotArea();
    const QRect area = dataArea();
    const QColor text = palette().color(QPalette::Text);
    const QColor grid = palette().color(QPalette::Midlight);

    painter.setPen(text);
    for (const Tick& tick : timeTicks()) {
        const double x = area.left() + tick.position / secondsBetween(m_from, m_to) * (area.width() - 1);
        painter.setPen(grid);
        painter.drawLine(QPointF(x, frame.top()), QPointF(x, frame.bottom()));
        painter.setPen(text);
        const int w = fontMetrics().horizontalAdvance(tick.text);
        painter.drawText(QPointF(std::clamp(x - w / 2.0, 0.0, double(width() - w)),
                                 frame.bottom() + MarkHeight + 4 + fontMetrics().ascent()),
                         tick.text);
    }
    for (const Tick& tick : m_valueTicks) {
        const double y = yOf(tick.position, area);
        painter.setPen(tick.position == 0.0 ? text : grid);
        painter.drawLine(QPointF(frame.left(), y), QPointF(frame.right(), y));
        painter.setPen(text);
        const int w = fontMetrics().horizontalAdvance(tick.text);
        painter.drawText(QPointF(frame.left() - 6 - w, y + fontMetrics().ascent() / 2.0 - 1), tick.text);
    }
    painter.setPen(text);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));

    if (m_samples.isEmpty()) {
        painter.drawText(frame, Qt::AlignCenter, tr("No samples in this span"));
        return;
    }

    // Lowest and highest value per pixel column, so that drawing costs the width, not the count.
    const int columns = area.width();
    struct Column
    {
        double offsetLow = 0, offsetHigh = 0, tripLow = 0, tripHigh = 0;
        bool answered = false, timedOut = false, refused = false;
    };
    std::vector<Column> bins(static_cast<std::size_t>(columns));
    int used = 0;
    for (const HistorySample& s : m_samples) {
        const int c =
            std::clamp(static_cast<int>(std::lround(xOf(s.time, area))) - area.left(), 0, columns - 1);
        Column& bin = bins[static_cast<std::size_t>(c)];
        if (!s.answered()) {
            (s.outcome == PollOutcome::TimedOut ? bin.timedOut : bin.refused) = true;
            continue;
        }
        if (!bin.answered) {
            ++used;
            bin = {s.offset, s.offset, s.roundTrip, s.roundTrip, true, bin.timedOut, bin.refused};
            continue;
        }
        bin.offsetLow = std::min(bin.offsetLow, s.offset);
        bin.offsetHigh = std::max(bin.offsetHigh, s.offset);
        bin.tripLow = std::min(bin.tripLow, s.roundTrip);
        bin.tripHigh = std::max(bin.tripHigh, s.roundTrip);
    }
    QPolygonF trip;
    QPolygonF offset;
    for (int c = 0; c < columns; ++c) {
        const Column& bin = bins[static_cast<std::size_t>(c)];
        const double x = area.left() + c;
        if (bin.timedOut || bin.refused) {
            painter.setPen(bin.timedOut ? TimedOutColor : RefusedColor);
            painter.drawLine(QPointF(x, frame.bottom() + 2), QPointF(x, frame.bottom() + 1 + MarkHeight));
        }
        if (!bin.answered)
            continue;
        trip << QPointF(x, yOf(bin.tripLow, area)) << QPointF(x, yOf(bin.tripHigh, area));
        offset << QPointF(x, yOf(bin.offsetLow, area)) << QPointF(x, yOf(bin.offsetHigh, area));
    }
    const bool sparse = used * 4 < columns;
    for (const auto& [line, colour] : {std::pair{&trip, RoundTripColor}, std::pair{&offset, OffsetColor}}) {
        painter.setPen(QPen(colour, 1));
        painter.drawPolyline(*line);
        if (sparse) {
            for (const QPointF& p : *line)
                painter.fillRect(QRectF(p.x() - 1, p.y() - 1, 3, 3), colour);
        }
    }

    if (m_hover && *m_hover < m_samples.size()) {
        const HistorySample& s = m_samples[*m_hover];
        const double x = xOf(s.time, area);
        painter.setPen(text);
        painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        if (s.answered()) {
            painter.drawEllipse(QPointF(x, yOf(s.offset, area)), 4, 4);
            painter.drawEllipse(QPointF(x, yOf(s.roundTrip, area)), 4, 4);
        }
    }
}

std::optional<qsizetype> HistoryPlot::nearestSample(QPoint pos) const
{
    const QRect area = dataArea();
    if (m_samples.isEmpty() || pos.x() < area.left() - 4 || pos.x() > area.right() + 4)
        return std::nullopt;
    const double fraction = double(pos.x() - area.left()) / std::max(1, area.width() - 1);
    const auto at = m_from + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::duration<double>(fraction * secondsBetween(m_from, m_to)));
    const auto after = std::lower_bound(m_samples.begin(), m_samples.end(), at,
                                        [](const HistorySample& s, HistoryTime t) { return s.time < t; });
    if (after == m_samples.begin())
        return 0;
    if (after == m_samples.end())
        return m_samples.size() - 1;
    const auto before = after - 1;
    return (at - before->time <= after->time - at ? before : after) - m_samples.begin();
}

QString HistoryPlot::describeSample(qsizetype index) const
{
    if (index < 0 || index >= m_samples.size())
        return {};
    const HistorySample& s = m_samples[index];
    const QString when = QLocale::c().toString(localTimeOf(s.time), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    switch (s.outcome) {
    case PollOutcome::Answered:
        return tr("%1\noffset %2\nround trip %3")
            .arg(when, HistorySecondsText(s.offset), HistorySecondsText(s.roundTrip));
    case PollOutcome::TimedOut:
        return tr("%1\ntimed out").arg(when);
    case PollOutcome::Refused:
        return tr("%1\nrefused: %2").arg(when, s.detail);
    case PollOutcome::KissOfDeath:
        return tr("%1\nkiss-o'-death %2").arg(when, s.detail);
    }
    return when;
}

void HistoryPlot::mouseMoveEvent(QMouseEvent* event)
{
    const std::optional<qsizetype> nearest = nearestSample(event->position().toPoint());
    if (nearest != m_hover) {
        m_hover = nearest;
        update();
    }
    if (m_hover)
        QToolTip::showText(event->globalPosition().toPoint(), describeSample(*m_hover), this);
    else
        QToolTip::hideText();
}

void HistoryPlot::leaveEvent(QEvent*)
{
    m_hover.reset();
    update();
}

} // namespace ostrelle
