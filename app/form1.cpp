#include "app/form1.h"

#include "dialogs/aboutdialog.h"
#include "dialogs/artwork.h"
#include "dialogs/controls.h"
#include "dialogs/optionsdialog.h"
#include "dialogs/twipslayout.h"
#include "servers/addserverdialog.h"
#include "servers/servertablemodel.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTableView>
#include <cmath>

namespace ostrelle {

Form1::Form1(Clock& clock, SettingsBackend& backend, UdpChannel& channel, MessageDialog& messages,
             QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint),
      m_monitor(clock, backend, channel, messages)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Brevikon Ostrelle"));
    setWindowIcon(ProgramIcon());
    buildControls();
    layOutControls();

    PollCycle& cycle = m_monitor.cycle();
    connect(&cycle, &PollCycle::labelsChanged, this, &Form1::showLabels);
    m_timerTimeout.setObjectName(QStringLiteral("TimerTimeout"));
    m_timerTimeout.setInterval(1000);
    connect(&m_timerTimeout, &QTimer::timeout, &cycle, &PollCycle::TimerTimeout_Timer);

    m_timerTimeout.start();
    m_monitor.Form_Load();
    showHeadingRow();
    showLabels();
}

Form1::~Form1()
{
    // The grid and the dialogs use the monitor, which as a member dies before QWidget deletes them.
    m_timerTimeout.stop();
    qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
    delete m_model;
}

void Form1::buildControls()
{
    m_frame1 = makeNamed<QGroupBox>(QStringLiteral("Frame1"), QStringLiteral("Synchronisation"), this);
    makeLabel(QStringLiteral("Last Poll At:"), QStringLiteral("Label1"), m_frame1);
    m_labelPoll = makeLabel(QStringLiteral("-"), QStringLiteral("LabelPoll"), m_frame1);
    makeLabel(QStringLiteral("Synchronised to:"), QStringLiteral("Label2"), m_frame1);
    m_labelSync = makeLabel(QStringLiteral("None"), QStringLiteral("LabelSync"), m_frame1);
    makeLabel(QStringLiteral("Last Adjustment:"), QStringLiteral("Label3"), m_frame1);
    m_labelAdjust = makeLabel(QStringLiteral("None"), QStringLiteral("LabelAdjust"), m_frame1);

    m_model = new ServerTableModel(m_monitor.table(), this);
    m_grid = makeNamed<QTableView>(QStringLiteral("MSFlexGridNtp"), this);
    m_grid->setModel(m_model);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setHighlightSections(false);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setWordWrap(false);
    // Tab moves between the window's controls, not from cell to cell inside the grid.
    m_grid->setTabKeyNavigation(false);
    connect(m_grid, &QTableView::clicked, this,
            [this](const QModelIndex& index) { m_monitor.table().setRow(m_model->tableRow(index)); });
    connect(m_model, &ServerTableModel::currentTableRowChanged, this, &Form1::showCurrentRow);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &Form1::showHeadingRow);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &Form1::showHeadingRow);

    m_commandAdd = makeButton(QStringLiteral("Add"), QStringLiteral("CommandAdd"), this);
    m_commandRemove = makeButton(QStringLiteral("Remove"), QStringLiteral("CommandRemove"), this);
    m_commandClear = makeButton(QStringLiteral("Clear All"), QStringLiteral("CommandClear"), this);
    m_commandOptions = makeButton(QStringLiteral("Options"), QStringLiteral("CommandOptions"), this);
    m_commandAbout = makeButton(QStringLiteral("About"), QStringLiteral("CommandAbout"), this);
    connect(m_commandAdd, &QPushButton::clicked, this, &Form1::CommandAdd_Click);
    connect(m_commandRemove, &QPushButton::clicked, this, &Form1::CommandRemove_Click);
    connect(m_commandClear, &QPushButton::clicked, this, &Form1::CommandClear_Click);
    connect(m_commandOptions, &QPushButton::clicked, this, &Form1::CommandOptions_Click);
    connect(m_commandAbout, &QPushButton::clicked, this, &Form1::CommandAbout_Click);

    setTabOrder(m_commandAdd, m_commandRemove);
    setTabOrder(m_commandRemove, m_grid);
    setTabOrder(m_grid, m_commandAbout);
    setTabOrder(m_commandAbout, m_commandClear);
    setTabOrder(m_commandClear, m_commandOptions);
}

void Form1::layOutControls()
{
    TwipsLayout layout(this, 8772, 3684);
    layout.place(m_frame1, 120, 120, 8532, 612);
    layout.place(m_frame1->findChild<QLabel*>(QStringLiteral("Label1")), 120, 240, 972, 252);
    layout.place(m_labelPoll, 1080, 240, 1812, 252);
    layout.place(m_frame1->findChild<QLabel*>(QStringLiteral("Label2")), 3000, 240, 1212, 252);
    layout.place(m_labelSync, 4200, 240, 1572, 252);
    layout.place(m_frame1->findChild<QLabel*>(QStringLiteral("Label3")), 6120, 240, 1212, 252);
    layout.place(m_labelAdjust, 7320, 240, 1092, 252);
    layout.place(m_grid, 120, 960, 8532, 2052);
    layout.place(m_commandAdd, 120, 3120, 1092, 372);
    layout.place(m_commandRemove, 1320, 3120, 1092, 372);
    layout.place(m_commandClear, 2520, 3120, 1092, 372);
    layout.place(m_commandOptions, 3720, 3120, 1092, 372);
    layout.place(m_commandAbout, 7560, 3120, 1092, 372);
    // The headings are not in the model until the first server arrives; measure them on a probe.
    QStandardItemModel headings(0, ServerTable::ColumnCount);
    QHeaderView probe(Qt::Horizontal);
    probe.setFont(m_grid->horizontalHeader()->font());
    probe.setModel(&headings);
    for (int col = 0; col < ServerTable::ColumnCount; ++col) {
        headings.setHeaderData(col, Qt::Horizontal, ServerTable::Headings()[static_cast<std::size_t>(col)]);
        layout.require(ServerTable::StartupColumnTwips[static_cast<std::size_t>(col)], probe.sectionSizeHint(col));
    }
    const double pixelsPerTwip = layout.apply();

    QHeaderView* header = m_grid->horizontalHeader();
    header->setMinimumSectionSize(1);
    for (int col = 0; col < ServerTable::ColumnCount; ++col) {
        const int twips = ServerTable::StartupColumnTwips[static_cast<std::size_t>(col)];
        m_grid->setColumnWidth(col, static_cast<int>(std::lround(twips * pixelsPerTwip)));
    }
}

void Form1::showLabels()
{
    const PollCycle& cycle = m_monitor.cycle();
    m_labelPoll->setText(cycle.LabelPoll());
    m_labelSync->setText(cycle.LabelSync());
    m_labelAdjust->setText(cycle.LabelAdjust());
}

void Form1::showCurrentRow(int tableRow)
{
    const QModelIndex index = m_model->indexForTableRow(tableRow);
    if (index.isValid())
        m_grid->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    else
        m_grid->selectionModel()->clearSelection();
}

void Form1::showHeadingRow()
{
    // The heading row exists only while there are servers.
    m_grid->horizontalHeader()->setVisible(m_monitor.table().Rows() > 0);
}

void Form1::showEvent(QShowEvent* event)
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

void Form1::openDialog(QWidget* dialog)
{
    // Shown modally without a nested event loop: the tick and the socket go on behind it.
    dialog->show();
    dialog->activateWindow();
}

void Form1::CommandAdd_Click()
{
    if (!m_form2)
        m_form2 = new Form2(m_monitor, this);
    openDialog(m_form2);
}

void Form1::CommandRemove_Click()
{
    m_monitor.CommandRemove_Click();
}

void Form1::CommandClear_Click()
{
    m_monitor.CommandClear_Click();
}

void Form1::CommandOptions_Click()
{
    if (!m_form4)
        m_form4 = new Form4(m_monitor, this);
    openDialog(m_form4);
}

void Form1::CommandAbout_Click()
{
    if (!m_form3)
        m_form3 = new Form3(this);
    openDialog(m_form3);
}

} // namespace ostrelle
