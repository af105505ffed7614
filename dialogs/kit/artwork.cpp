#include "dialogs/kit/artwork.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace ostrelle {

namespace {

// From the sixteen-colour palette; the icon is drawn without smoothing so that no other colour
// appears and it stays crisp at its small sizes.
const QColor Black(0, 0, 0);
const QColor Navy(0, 0, 128);
const QColor Gray(128, 128, 128);
const QColor Red(255, 0, 0);
const QColor Blue(0, 0, 255);
const QColor White(255, 255, 255);
const QColor Yellow(255, 255, 0);

// Positions of one icon size: the mast's apex and feet, the waves' radii, the clock face.
struct IconGeometry
{
    QPoint apex;
    int footY;
    int footHalfWidth;
    QList<int> braceYs;
    QPoint waveCentre;
    QList<int> waveRadii;
    QPoint clockCentre;
    int clockRadius;
    QPoint hourHandTip;
    QPoint minuteHandTip;
};

IconGeometry geometryFor(int size)
{
    if (size <= 16)
        return {QPoint(8, 2),   7,           2, {5}, QPoint(8, 3), {3, 5}, QPoint(8, 11), 4,
                QPoint(10, 10), QPoint(8, 8)};
    return {QPoint(16, 4), 17, 5, {8, 12, 16}, QPoint(16, 5), {5, 8, 11}, QPoint(16, 24), 7, QPoint(19, 22),
            QPoint(16, 19)};
}

void drawMast(QPainter& painter, const IconGeometry& g)
{
    const auto halfWidthAt = [&g](int y) {
        const double t = double(y - g.apex.y()) / double(g.footY - g.apex.y());
        return qRound(t * g.footHalfWidth);
    };
    painter.setPen(Gray);
    for (int y : g.braceYs)
        painter.drawLine(g.apex.x() - halfWidthAt(y), y, g.apex.x() + halfWidthAt(y), y);
    painter.setPen(Black);
    painter.drawLine(g.apex, QPoint(g.apex.x() - g.footHalfWidth, g.footY));
    painter.drawLine(g.apex, QPoint(g.apex.x() + g.footHalfWidth, g.footY));
    painter.setPen(Red);
    painter.drawPoint(g.apex.x(), g.apex.y() - 1);
    if (g.apex.y() >= 3)
        painter.drawPoint(g.apex.x(), g.apex.y() - 2);
}

void drawWaves(QPainter& painter, const IconGeometry& g)
{
    // Plotted point by point rather than with drawArc, so that both sides mirror each other.
    painter.setPen(Blue);
    for (int r : g.waveRadii) {
        const int reach = qRound(r * 0.6);
        for (int dy = -reach; dy <= reach; ++dy) {
            const int dx = qRound(std::sqrt(double(r * r - dy * dy)));
            painter.drawPoint(g.waveCentre.x() - dx, g.waveCentre.y() + dy);
            painter.drawPoint(g.waveCentre.x() + dx, g.waveCentre.y() + dy);
        }
    }
}

void drawClock(QPainter& painter, const IconGeometry& g)
{
    painter.setPen(Black);
    painter.setBrush(White);
    painter.drawEllipse(g.clockCentre, g.clockRadius, g.clockRadius);
    if (g.clockRadius >= 5) {
        const int c = g.clockRadius - 1;
        const QPoint o = g.clockCentre;
        painter.drawPoint(o.x(), o.y() - c);
        painter.drawPoint(o.x() + c, o.y());
        painter.drawPoint(o.x(), o.y() + c);
        painter.drawPoint(o.x() - c, o.y());
    }
    painter.setPen(Navy);
    painter.drawLine(g.clockCentre, g.hourHandTip);
    painter.drawLine(g.clockCentre, g.minuteHandTip);
    painter.setPen(Red);
    painter.drawPoint(g.clockCentre);
}

} // namespace

QImage ProgramIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const IconGeometry g = geometryFor(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    drawWaves(painter, g);
    drawMast(painter, g);
    drawClock(painter, g);
    return image;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {32, 16})
        icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
    return icon;
}

QPixmap MakerLogo()
{
    constexpr int width = 139;
    constexpr int height = 41;
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Navy);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // A swell running under the name, as the waves run beside the icon's mast.
    QPainterPath swell;
    swell.moveTo(6, 34);
    swell.cubicTo(40, 26, 90, 42, 133, 31);
    painter.setPen(QPen(Yellow, 2));
    painter.drawPath(swell);

    const QString name = QStringLiteral("Brevikon");
    const QRect textBox(6, 3, width - 12, 27);
    QFont font(QStringLiteral("Sans Serif"));
    font.setBold(true);
    font.setItalic(true);
    font.setPixelSize(textBox.height());
    // Whatever font the system supplies, the name must fit the box.
    while (font.pixelSize() > 8 && QFontMetrics(font).horizontalAdvance(name) > textBox.width())
        font.setPixelSize(font.pixelSize() - 1);
    painter.setFont(font);
    painter.setPen(White);
    painter.drawText(textBox, Qt::AlignCenter, name);
    painter.end();
    return QPixmap::fromImage(image);
}

} // namespace ostrelle
