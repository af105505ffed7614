#include "app/trayicon.h"

#include "dialogs/kit/artwork.h"

#include <QPainter>

namespace ostrelle {

namespace {

// The program's icon with a dot in the corner: green all well, red a server red, amber the clock
// not set. The shape differs too, for those who cannot tell the colours apart.
QIcon stateIcon(DesktopStatus::Health health)
{
    // The 32-pixel drawing doubled without smoothing, so that its pixels stay sharp.
    QPixmap pixmap = QPixmap::fromImage(ProgramIconImage(32).scaled(64, 64));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 3));
    const QRectF corner(34, 34, 28, 28);
    switch (health) {
    case DesktopStatus::Health::Healthy:
        painter.setBrush(QColor(0x2e, 0x9e, 0x44));
        painter.drawEllipse(corner);
        break;
    case DesktopStatus::Health::SomeRed:
        painter.setBrush(QColor(0xd0, 0x24, 0x24));
        painter.drawRect(corner);
        break;
    case DesktopStatus::Health::ClockNotSet: {
        painter.setBrush(QColor(0xe8, 0xa3, 0x17));
        const QPointF triangle[] = {{48, 32}, {63, 62}, {33, 62}};
        painter.drawPolygon(triangle, 3);
        break;
    }
    }
    return QIcon(pixmap);
}

} // namespace

TrayIcon::TrayIcon(const DesktopStatus& status, QObject* parent) : QObject(parent), m_status(status)
{
    QAction* show = m_menu.addAction(QStringLiteral("Show"), this, &TrayIcon::showRequested);
    show->setObjectName(QStringLiteral("TrayShow"));
    m_menu.addAction(QStringLiteral("Poll now"), this, &TrayIcon::pollRequested)
        ->setObjectName(QStringLiteral("TrayPoll"));
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Quit"), this, &TrayIcon::quitRequested)
        ->setObjectName(QStringLiteral("TrayQuit"));
    m_menu.setDefaultAction(show);
    m_icon.setContextMenu(&m_menu);
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showRequested();
    });
    connect(&status, &DesktopStatus::changed, this, &TrayIcon::showStatus);
    showStatus();
}

void TrayIcon::showStatus()
{
    m_icon.setIcon(stateIcon(m_status.health()));
    m_icon.setToolTip(QStringLiteral("Brevikon Ostrelle\n") + m_status.summary());
}

} // namespace ostrelle
