#pragma once

#include "history/historysample.h"

#include <QColor>
#include <QList>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <optional>

namespace ostrelle {

// Seconds as an operator reads them, in the unit that fits: "850 µs", "12.4 ms", "-1.25 s".
QString HistorySecondsText(double seconds);

// Offset and round trip of one server over time, drawn with QPainter. Time-outs and refused
// replies are marked under the time axis; the colours below are the legend's. However many samples there are,
// each pixel column draws only the lowest and highest value that falls into it.
class HistoryPlot : public QWidget
{
    Q_OBJECT

public:
    static inline const QColor OffsetColor{0x1f, 0x5f, 0xb4};
    static inline const QColor RoundTripColor{0x2c, 0xa0, 0x2c};
    static inline const QColor TimedOutColor{0xd6, 0x27, 0x28};
    static inline const QColor RefusedColor{0xff, 0x7f, 0x0e};

    explicit HistoryPlot(QWidget* parent = nullptr);

    // Samples oldest first, shown on a time axis from from to to.
    void setSamples(QList<HistorySample> samples, HistoryTime from, HistoryTime to);
    const QList<HistorySample>& samples() const { return m_samples; }

    // Where the data is drawn, and the texts of the axes as last laid out.
    QRect plotArea() const;
    QString valueUnit() const { return m_unit; }
    QStringList valueAxisLabels() const;
    QStringList timeAxisLabels() const;

    // The sample nearest to pos along the time axis, and what hovering it shows.
    std::optional<qsizetype> nearestSample(QPoint pos) const;
    QString describeSample(qsizetype index) const;

    QSize sizeHint() const override { return {640, 360}; }
    QSize minimumSizeHint() const override { return {320, 200}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Tick
    {
        double position; // seconds for values, seconds since from for times
        QString text;
    };

    void layoutValueAxis();
    QList<Tick> timeTicks() const;
    QRect dataArea() const;
    // Pixel positions within area, which costs font metrics to work out: pass it in.
    double xOf(HistoryTime time, const QRect& area) const;
    double yOf(double seconds, const QRect& area) const;

    QList<HistorySample> m_samples;
    HistoryTime m_from{};
    HistoryTime m_to{};
    double m_low = 0.0;
    double m_high = 0.0;
    QString m_unit;
    QList<Tick> m_valueTicks;
    std::optional<qsizetype> m_hover;
};

} // namespace ostrelle
