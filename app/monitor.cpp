#include "app/monitor.h"

#include "platform/messagedialog.h"
#include "servers/servername.h"

namespace ostrelle {

Monitor::Monitor(Clock& clock, SettingsBackend& backend, UdpChannel& channel, MessageDialog& messages)
    : m_messages(messages), m_store(backend, messages), m_cycle(m_servers, channel, clock, messages)
{
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
