#include "dialogs/kit/twipslayout.h"

#include <QWidget>
#include <algorithm>
#include <cmath>

namespace ostrelle {

namespace {

int scaled(int twips, double factor)
{
    return static_cast<int>(std::lround(twips * factor));
}

} // namespace

TwipsLayout::TwipsLayout(QWidget* window, int clientWidthTwips, int clientHeightTwips)
    : m_window(window), m_clientTwips(clientWidthTwips, clientHeightTwips)
{
}

void TwipsLayout::place(std::initializer_list<Spot> spots)
{
    for (const Spot& s : spots)
        m_placements.append({s.widget, QRect(s.left, s.top, s.width, s.height)});
}

double TwipsLayout::pixelsPerTwip(const QWidget* window)
{
    return window->logicalDpiX() / 1440.0;
}

double TwipsLayout::apply()
{
    const double base = pixelsPerTwip(m_window);
    double factor = base;
    for (const Placement& p : m_placements) {
        const QSize hint = p.widget->sizeHint();
        if (!hint.isValid())
            continue;
        // Captions and pictures decide the scale; frames, grids, sliders and lists adapt.
        if (!p.widget->inherits("QLabel") && !p.widget->inherits("QAbstractButton"))
            continue;
        factor = std::max(factor, hint.width() / static_cast<double>(p.twips.width()));
        factor = std::max(factor, hint.height() / static_cast<double>(p.twips.height()));
    }
    for (const auto& [twips, pixels] : m_requirements)
        factor = std::max(factor, pixels / static_cast<double>(twips));
    for (const Placement& p : m_placements) {
        p.widget->setGeometry(scaled(p.twips.left(), factor), scaled(p.twips.top(), factor),
                              scaled(p.twips.width(), factor), scaled(p.twips.height(), factor));
    }
    m_window->setFixedSize(scaled(m_clientTwips.width(), factor), scaled(m_clientTwips.height(), factor));
    return factor;
}

} // namespace ostrelle
