#include "app/monitor.h"

#include "platform/messagedialog.h"
#include "servers/servername.h"

namespace ostrelle {

void LinkServerTable(ServerListModel& table, PollCycle& cycle)
{
    cycle.setServers(table.names());
    QObject::connect(&table, &QAbstractItemModel::modelReset, &cycle,
                     [&table, &cycle] { cycle.setServers(table.names()); });
    QObject::connect(&table, &QAbstractItemModel::rowsInserted, &cycle,
                     [&table, &cycle](const QModelIndex&, int first, int last) {
                         cycle.insertServers(first, table.names().mid(first, last - first + 1));
                     });
    QObject::connect(&table, &QAbstractItemModel::rowsRemoved, &cycle,
                     [&cycle](const QModelIndex&, int first, int last) { cycle.removeServers(first, last); });

    QObject::connect(&cycle, &PollCycle::pollingServer, &table, &ServerListModel::setPolling);
    QObject::connect(&cycle, &PollCycle::serverPolled, &table, [&table](const PollStep& step, int row) {
        if (step.nts)
            table.setNtsStatus(row, *step.nts);
        if (step.answered)
            table.setAnswered(row, step.reading, step.address.isNull() ? QString() : step.address.toString());
        else
            table.setTimedOut(row, step.reading.problems);
    });
    QObject::connect(&cycle, &PollCycle::serverFiltered, &table, [&table](int row, const PollStep& filtered) {
        table.setFiltered(row, filtered.answers, filtered.reading.offsetSeconds, filtered.jitterSeconds);
    });
    QObject::connect(&cycle, &PollCycle::agreementProblem, &table, &ServerListModel::markAgreementProblem);
}

Monitor::Monitor(Clock& clock, SettingsBackend& backend, UdpChannel& channel, MessageDialog& messages)
    : m_messages(messages), m_store(backend, messages), m_cycle(channel, clock, messages)
{
    LinkServerTable(m_servers, m_cycle);
}

void Monitor::start()
{
    StoredState stored = m_store.loadSettings();
    m_settings = stored.settings;
    m_cycle.setSettings(m_settings);
    m_servers.addServers(stored.servers);
    m_cycle.start();
}

int Monitor::addServer(const QString& name)
{
    int row = -1;
    if (CheckServerName(name) == ServerNameCheck::Usable) {
        row = m_servers.addServer(name);
        save();
    }
    m_cycle.pollSoon();
    return row;
}

void Monitor::removeServer(int row)
{
    if (!m_servers.isRow(row))
        return;
    m_servers.removeServer(row);
    save();
}

void Monitor::clearServers()
{
    const auto answer =
        m_messages.show(QStringLiteral("Clear All Servers ?"), QStringLiteral("Brevikon Ostrelle"),
                        MessageDialog::Icon::None, MessageDialog::Buttons::YesNo, MessageDialog::Button::Yes);
    if (answer != MessageDialog::Button::Yes)
        return;
    m_servers.clear();
    save();
}

void Monitor::applySettings(const Settings& chosen)
{
    m_settings = chosen;
    m_cycle.setSettings(m_settings);
    save();
    m_cycle.pollSoon();
}

void Monitor::save()
{
    m_store.saveSettings(m_settings, m_servers.names());
}

} // namespace ostrelle
