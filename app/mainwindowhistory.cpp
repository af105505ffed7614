#include "app/mainwindow.h"

#include "history/historyexport.h"
#include "history/historyrecorder.h"
#include "history/pollhistory.h"

#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QTableView>

namespace ostrelle {

void MainWindow::setHistoryRecorder(HistoryRecorder& recorder)
{
    m_historyRecorder = &recorder;
    new PollHistory(m_monitor.cycle(), recorder, m_messages, this);
    m_historyExport = new HistoryExport(this);
    connect(m_historyExport, &HistoryExport::finished, this, &MainWindow::historyExported);
    if (!m_chooseFile) {
        m_chooseFile = [](QWidget* owner, const QString& suggested) {
            return QFileDialog::getSaveFileName(owner, tr("Export history"), suggested,
                                                tr("CSV files (*.csv)"));
        };
    }

    // Double-click and Enter both activate a row.
    connect(m_serverView, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { openServerHistory(index.row()); });
    m_serverView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_serverView, &QWidget::customContextMenuRequested, this, &MainWindow::showServerMenu);
}

ServerHistoryWindow* MainWindow::openServerHistory(int row)
{
    if (!m_historyRecorder || !m_monitor.servers().isRow(row))
        return nullptr;
    const QString server = m_monitor.servers().record(row).name;
    QPointer<ServerHistoryWindow>& window = m_historyWindows[server];
    if (!window) {
        window = new ServerHistoryWindow(server, *m_historyRecorder, this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setSaveFileChooser(m_chooseFile);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void MainWindow::showServerMenu(const QPoint& position)
{
    const QModelIndex index = m_serverView->indexAt(position);
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("ServerMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* history = menu->addAction(tr("History"));
    history->setObjectName(QStringLiteral("ServerMenuHistory"));
    history->setEnabled(index.isValid());
    connect(history, &QAction::triggered, this, [this, row = index.row()] { openServerHistory(row); });
    QAction* exportAll = menu->addAction(tr("Export…"));
    exportAll->setObjectName(QStringLiteral("ServerMenuExport"));
    exportAll->setEnabled(!m_historyExport->isRunning());
    connect(exportAll, &QAction::triggered, this, &MainWindow::exportAllHistory);
    menu->popup(m_serverView->viewport()->mapToGlobal(position));
}

void MainWindow::exportAllHistory()
{
    if (!m_historyRecorder || m_historyExport->isRunning())
        return;
    const QString fileName = m_chooseFile(this, QStringLiteral("ostrelle-history.csv"));
    if (fileName.isEmpty())
        return;
    // What the recorder still holds goes to the database first; the export reads from there.
    m_historyRecorder->waitForWrites();
    m_historyExport->start(m_historyRecorder->path(), fileName);
}

void MainWindow::historyExported(const QString&, const QString& error)
{
    if (!error.isEmpty())
        m_messages.show(error, QStringLiteral("Brevikon Ostrelle"), MessageDialog::Icon::Warning,
                        MessageDialog::Buttons::Ok, MessageDialog::Button::Ok);
}

} // namespace ostrelle
