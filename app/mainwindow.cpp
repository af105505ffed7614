#include "app/mainwindow.h"

#include "app/trayicon.h"
#include "app/unhealthyrowdelegate.h"
#include "dialogs/aboutdialog.h"
#include "dialogs/addserverdialog.h"
#include "dialogs/kit/artwork.h"
#include "dialogs/kit/controls.h"
#include "dialogs/kit/twipslayout.h"
#include "dialogs/optionsdialog.h"
#include "platform/messagedialog.h"
#include "platform/timeservice.h"

#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>
#include <array>
#include <cmath>

namespace ostrelle {

namespace {

// The columns' widths in twips (1/1440 inch), as designed.
constexpr std::array<int, 8> ColumnTwips = {1500, 900, 800, 800, 800, 1800, 960, 870};

} // namespace

MainWindow::MainWindow(Clock& clock, SettingsBackend& backend, UdpChannel& channel, MessageDialog& messages,
                       HostResolver* resolver, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_messages(messages), m_monitor(clock, backend, channel, messages),
      m_status(m_monitor.cycle(), m_monitor.servers())
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Brevikon Ostrelle"));
    setWindowIcon(ProgramIcon());
    buildControls();
    layOutControls();

    PollCycle& cycle = m_monitor.cycle();
    connect(&cycle, &PollCycle::labelsChanged, this, &MainWindow::showLabels);
    m_tickTimer.setObjectName(QStringLiteral("TimerTimeout"));
    m_tickTimer.setInterval(1000);
    connect(&m_tickTimer, &QTimer::timeout, &cycle, &PollCycle::tick);

    if (resolver)
        cycle.setHostResolver(*resolver);
    m_tickTimer.start();
    m_monitor.start();
    m_status.setNotifying(m_monitor.settings().notify);
    showHeading();
    showLabels();
}

MainWindow::~MainWindow()
{
    // The view and the dialogs use the monitor, which as a member dies before QWidget deletes them.
    m_tickTimer.stop();
    qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
}

void MainWindow::buildControls()
{
    m_synchronisationFrame =
        makeNamed<QGroupBox>(QStringLiteral("Frame1"), QStringLiteral("Synchronisation"), this);
    makeLabel(QStringLiteral("Last Poll At:"), QStringLiteral("Label1"), m_synchronisationFrame);
    m_lastPollLabel = makeLabel(QStringLiteral("-"), QStringLiteral("LabelPoll"), m_synchronisationFrame);
    makeLabel(QStringLiteral("Synchronised to:"), QStringLiteral("Label2"), m_synchronisationFrame);
    m_synchronisedToLabel =
        makeLabel(QStringLiteral("None"), QStringLiteral("LabelSync"), m_synchronisationFrame);
    makeLabel(QStringLiteral("Last Adjustment:"), QStringLiteral("Label3"), m_synchronisationFrame);
    m_lastAdjustmentLabel =
        makeLabel(QStringLiteral("None"), QStringLiteral("LabelAdjust"), m_synchronisationFrame);

    ServerListModel& servers = m_monitor.servers();
    m_serverView = makeNamed<QTableView>(QStringLiteral("MSFlexGridNtp"), this);
    m_serverView->setModel(&servers);
    m_serverView->setItemDelegate(new UnhealthyRowDelegate(m_serverView));
    m_serverView->verticalHeader()->hide();
    m_serverView->horizontalHeader()->setHighlightSections(false);
    m_serverView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_serverView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_serverView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_serverView->setWordWrap(false);
    // The columns always fit; a horizontal bar would only hide the last row.
    m_serverView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab moves between the window's controls, not from cell to cell inside the list.
    m_serverView->setTabKeyNavigation(false);
    connect(&servers, &QAbstractItemModel::rowsInserted, this, &MainWindow::showHeading);
    connect(&servers, &QAbstractItemModel::rowsRemoved, this, &MainWindow::showHeading);
    connect(&servers, &QAbstractItemModel::modelReset, this, &MainWindow::showHeading);
    connect(m_serverView->verticalScrollBar(), &QScrollBar::rangeChanged, this, &MainWindow::fitColumns);

    m_addButton = makeButton(QStringLiteral("Add"), QStringLiteral("CommandAdd"), this);
    m_removeButton = makeButton(QStringLiteral("Remove"), QStringLiteral("CommandRemove"), this);
    m_clearButton = makeButton(QStringLiteral("Clear All"), QStringLiteral("CommandClear"), this);
    m_optionsButton = makeButton(QStringLiteral("Options"), QStringLiteral("CommandOptions"), this);
    m_aboutButton = makeButton(QStringLiteral("About"), QStringLiteral("CommandAbout"), this);
    connect(m_addButton, &QPushButton::clicked, this, &MainWindow::openAddServerDialog);
    connect(m_removeButton, &QPushButton::clicked, this, &MainWindow::removeSelectedServer);
    connect(m_clearButton, &QPushButton::clicked, this, &MainWindow::clearServers);
    connect(m_optionsButton, &QPushButton::clicked, this, &MainWindow::openOptionsDialog);
    connect(m_aboutButton, &QPushButton::clicked, this, &MainWindow::openAboutDialog);

    setTabOrder(m_addButton, m_removeButton);
    setTabOrder(m_removeButton, m_serverView);
    setTabOrder(m_serverView, m_aboutButton);
    setTabOrder(m_aboutButton, m_clearButton);
    setTabOrder(m_clearButton, m_optionsButton);
}

void MainWindow::layOutControls()
{
    const auto frameLabel = [this](const char* name) {
        return m_synchronisationFrame->findChild<QLabel*>(QString::fromLatin1(name));
    };
    TwipsLayout layout(this, 8772, 3684);
    layout.place({
        {m_synchronisationFrame, 120, 120, 8532, 612},
        {frameLabel("Label1"), 120, 240, 972, 252},
        {m_lastPollLabel, 1080, 240, 1812, 252},
        {frameLabel("Label2"), 3000, 240, 1212, 252},
        {m_synchronisedToLabel, 4200, 240, 1572, 252},
        {frameLabel("Label3"), 6120, 240, 1212, 252},
        {m_lastAdjustmentLabel, 7320, 240, 1092, 252},
        {m_serverView, 120, 960, 8532, 2052},
        {m_addButton, 120, 3120, 1092, 372},
        {m_removeButton, 1320, 3120, 1092, 372},
        {m_clearButton, 2520, 3120, 1092, 372},
        {m_optionsButton, 3720, 3120, 1092, 372},
        {m_aboutButton, 7560, 3120, 1092, 372},
    });
    // Every heading must fit its column; measure them on a probe header at the view's font.
    QStandardItemModel headings(0, ServerListModel::Columns);
    QHeaderView probe(Qt::Horizontal);
    probe.setFont(m_serverView->horizontalHeader()->font());
    probe.setModel(&headings);
    for (int col = 0; col < headings.columnCount(); ++col) {
        headings.setHeaderData(col, Qt::Horizontal, m_monitor.servers().headerData(col, Qt::Horizontal));
        layout.require(ColumnTwips[static_cast<std::size_t>(col)], probe.sectionSizeHint(col));
    }
    const double pixelsPerTwip = layout.apply();

    m_serverView->horizontalHeader()->setMinimumSectionSize(1);
    for (int twips : ColumnTwips)
        m_columnWidths.append(static_cast<int>(std::lround(twips * pixelsPerTwip)));
    fitColumns();
}

void MainWindow::fitColumns()
{
    // With more servers than fit, the vertical scroll bar takes its width from the columns, which
    // shrink in proportion so that no horizontal scroll bar is needed.
    const QScrollBar* bar = m_serverView->verticalScrollBar();
    int room = m_serverView->width() - 2 * m_serverView->frameWidth();
    if (bar->maximum() > bar->minimum())
        room -= bar->sizeHint().width();
    int designed = 0;
    for (int width : std::as_const(m_columnWidths))
        designed += width;
    const double scale = designed > room && designed > 0 ? double(room) / designed : 1.0;
    int used = 0;
    for (int col = 0; col < m_columnWidths.size(); ++col) {
        const bool last = col == m_columnWidths.size() - 1;
        const int width = last && scale < 1.0 ? room - used : int(std::floor(m_columnWidths[col] * scale));
        m_serverView->setColumnWidth(col, width);
        used += width;
    }
}

void MainWindow::showLabels()
{
    const PollCycle& cycle = m_monitor.cycle();
    m_lastPollLabel->setText(cycle.lastPollText());
    m_synchronisedToLabel->setText(cycle.synchronisedToText());
    QString toolTip = cycle.synchronisedToToolTip();
    // Only while this program steps the clock does another service's undoing matter; one that keeps
    // the clock the pass itself names.
    if (const QString note =
            m_monitor.settings().adjustClock && m_timeService && m_timeService->state().mayUndoStep()
                ? timeServiceNote()
                : QString();
        !note.isEmpty())
        toolTip = toolTip.isEmpty() ? note : toolTip + QLatin1Char('\n') + note;
    m_synchronisedToLabel->setToolTip(toolTip);
    m_lastAdjustmentLabel->setText(cycle.lastAdjustmentText());
}

void MainWindow::showHeading()
{
    // The headings show only while there are servers; the columns, and with them their widths,
    // come back with the first one.
    m_serverView->horizontalHeader()->setVisible(m_monitor.servers().rowCount() > 0);
    fitColumns();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void MainWindow::openDialog(QWidget* dialog)
{
    // Shown modally without a nested event loop: the tick and the socket go on behind it.
    dialog->show();
    dialog->activateWindow();
}

void MainWindow::openAddServerDialog()
{
    if (!m_addServerDialog) {
        m_addServerDialog = new AddServerDialog(m_messages, this);
        connect(m_addServerDialog, &QDialog::accepted, this, &MainWindow::addServerFromDialog);
    }
    openDialog(m_addServerDialog);
}

void MainWindow::addServerFromDialog()
{
    const int row = m_monitor.addServer(m_addServerDialog->serverName());
    // The new server becomes the operator's row, as a click on it would make it.
    if (row >= 0)
        m_serverView->selectionModel()->setCurrentIndex(m_monitor.servers().index(row, 0),
                                                        QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
}

void MainWindow::removeSelectedServer()
{
    // Only a row the operator chose: the selection follows its server when rows above go, and is
    // gone when its own row goes.
    QItemSelectionModel* selection = m_serverView->selectionModel();
    const QModelIndexList selected = selection->selectedRows();
    if (selected.isEmpty())
        return;
    m_monitor.removeServer(selected.first().row());
    // The view moves its current row to a neighbour, which the operator did not choose.
    selection->clear();
}

void MainWindow::clearServers()
{
    m_monitor.clearServers();
}

void MainWindow::openOptionsDialog()
{
    if (!m_optionsDialog) {
        m_optionsDialog = new OptionsDialog(this);
        m_optionsDialog->setSettings(m_monitor.settings());
        connect(m_optionsDialog, &QDialog::accepted, this,
                [this] { applyOptions(m_optionsDialog->settings()); });
    }
    // The service may have been started or stopped since the dialog was last open.
    const auto showNote = [this](const TimeServiceState& state) {
        m_optionsDialog->setClockAdjustmentNote(TimeServiceHeadline(state), TimeServiceNote(state));
    };
    showNote(m_timeService ? m_timeService->state() : TimeServiceState());
    m_optionsDialog->setTrayAvailable(m_trayIcon != nullptr);
    if (m_timeService)
        m_timeService->ask(m_optionsDialog, showNote);
    openDialog(m_optionsDialog);
}

void MainWindow::applyOptions(Settings chosen)
{
    const bool wasAdjusting = m_monitor.settings().adjustClock;
    // As read when Options opened: what the operator saw there is what they decided on.
    const TimeServiceState service = m_timeService ? m_timeService->state() : TimeServiceState();
    // A service holds the clock when the system refuses steps made here while it runs (timedated),
    // or when it would undo them (Windows Time).
    const bool held = service.keepsClock || service.mayUndoStep();
    if (service.canHandOver && chosen.adjustClock && !wasAdjusting && held) {
        const QString why =
            service.keepsClock
                ? QStringLiteral("Another time service keeps this clock, and the system refuses every change "
                                 "made here while it does.")
                : QStringLiteral("%1 synchronises this clock and may undo every change made here.")
                      .arg(service.name.isEmpty() ? QStringLiteral("Another time service") : service.name);
        const auto answer = m_messages.show(
            why +
                QStringLiteral("\n\nHand the clock over to Ostrelle? Yes: Ostrelle sets the clock after each "
                               "poll (the system may ask for your password). No: Ostrelle only monitors "
                               "the servers."),
            QStringLiteral("Brevikon Ostrelle"), MessageDialog::Icon::None, MessageDialog::Buttons::YesNo,
            MessageDialog::Button::No);
        if (answer == MessageDialog::Button::Yes)
            switchAutomaticSync(false);
        else
            chosen.adjustClock = false;
    } else if (service.canHandOver && !chosen.adjustClock && wasAdjusting && !held) {
        const auto answer =
            m_messages.show(QStringLiteral("Give the clock back to the system's time service?"),
                            QStringLiteral("Brevikon Ostrelle"), MessageDialog::Icon::None,
                            MessageDialog::Buttons::YesNo, MessageDialog::Button::Yes);
        if (answer == MessageDialog::Button::Yes)
            switchAutomaticSync(true);
    }
    m_monitor.applySettings(chosen);
    m_status.setNotifying(chosen.notify);
    // Clock adjustment switched on or off changes what the tooltip says.
    showLabels();
}

void MainWindow::switchAutomaticSync(bool on)
{
    m_timeService->setAutomaticSync(on, this, [this](bool ok, const QString& reason) {
        // Declined or refused: the next pass finds the service still keeping the clock and says so.
        if (!ok)
            m_messages.show(QStringLiteral("The system's time service could not be switched."),
                            QStringLiteral("Brevikon Ostrelle"), MessageDialog::Icon::Warning,
                            MessageDialog::Buttons::Ok, MessageDialog::Button::Ok, reason);
    });
}

void MainWindow::setTimeService(TimeService& service)
{
    m_timeService = &service;
    m_monitor.cycle().setTimeService(service);
    showLabels();
}

QString MainWindow::timeServiceNote() const
{
    return m_timeService ? TimeServiceNote(m_timeService->state()) : QString();
}

void MainWindow::bringToFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::showTrayIcon()
{
    if (m_trayIcon || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayIcon = new TrayIcon(m_status, this);
    connect(m_trayIcon, &TrayIcon::showRequested, this, &MainWindow::bringToFront);
    connect(m_trayIcon, &TrayIcon::pollRequested, this, &MainWindow::pollNow);
    connect(m_trayIcon, &TrayIcon::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    m_trayIcon->icon().show();
}

void MainWindow::pollNow()
{
    // Mid-pass, the pass goes on; hurrying it would cut the polled server's answer short.
    if (m_monitor.cycle().pollRow() < 0)
        m_monitor.cycle().pollSoon();
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || !m_trayIcon ||
        !m_monitor.settings().hideWhenMinimised)
        return;
    // After the window system has finished minimising it.
    QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
}

void MainWindow::openAboutDialog()
{
    if (!m_aboutDialog)
        m_aboutDialog = new AboutDialog(this);
    openDialog(m_aboutDialog);
}

} // namespace ostrelle
