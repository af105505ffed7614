#pragma once

#include <QList>
#include <QPair>
#include <QRect>
#include <initializer_list>

class QWidget;

namespace ostrelle {

// Places a window's controls from sizes given in twips (1440 to the inch) at the screen's logical
// DPI. When a caption would not fit its control at the platform's font, every size grows by the
// same factor, so the window keeps its proportions instead of clipping or overlapping text.
class TwipsLayout
{
public:
    TwipsLayout(QWidget* window, int clientWidthTwips, int clientHeightTwips);

    // Where one control goes: left, top, width and height in twips, relative to its parent.
    struct Spot
    {
        QWidget* widget;
        int left;
        int top;
        int width;
        int height;
    };

    // A window's table of positions.
    void place(std::initializer_list<Spot> spots);

    // Asks that a length of the given twips come out at least this many pixels (a column that
    // must show its heading, say).
    void require(int twips, int pixels) { m_requirements.append({twips, pixels}); }

    // Sets every geometry and fixes the window's client size; returns the pixels per twip used.
    double apply();

    static double pixelsPerTwip(const QWidget* window);

private:
    struct Placement
    {
        QWidget* widget;
        QRect twips;
    };

    QWidget* m_window;
    QSize m_clientTwips;
    QList<Placement> m_placements;
    QList<QPair<int, int>> m_requirements;
};

} // namespace ostrelle
