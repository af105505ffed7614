#include "app/monitor.h"

#include "platform/messagedialog.h"

namespace ostrelle {

Monitor::Monitor(Clock& clock, SettingsBackend& backend, UdpChannel& channel, MessageDialog& messages)
    : m_messages(messages), m_store(backend, messages),
      m_cycle(m_table, m_settings, channel, clock, messages)
{
}

void Monitor::InitGlobals()
{
    // The month table is a constant; only the settings need their defaults back.
    m_settings = Settings{};
}

void Monitor::Form_Load()
{
    for (int col = 0; col < ServerTable::ColumnCount; ++col)
        m_table.setColWidth(col, ServerTable::StartupColumnTwips[static_cast<std::size_t>(col)]);
    InitGlobals();
    m_store.LoadSettings(m_settings, m_table);
    m_cycle.setBestStratum(-1);
    m_cycle.setPollCountdown(0);
    m_cycle.TimerTimeout_Timer();
}

void Monitor::CommandRemove_Click()
{
    const int row = m_table.Row();
    const int rows = m_table.Rows();
    if (row < 1 || row >= rows)
        return;
    if (row == 1 && rows == 2) {
        emptyTable();
    } else {
        m_table.RemoveItem(row);
        m_cycle.serverRowRemoved(row);
    }
    m_store.SaveSettings(m_settings, m_table);
}

void Monitor::CommandClear_Click()
{
    const auto answer = m_messages.show(QStringLiteral("Clear All Servers ?"), QStringLiteral("Brevikon Ostrelle"),
                                        MessageDialog::Icon::None, MessageDialog::Buttons::YesNo,
                                        MessageDialog::Button::Yes);
    if (answer != MessageDialog::Button::Yes)
        return;
    emptyTable();
    m_store.SaveSettings(m_settings, m_table);
}

void Monitor::emptyTable()
{
    // The heading row goes too; the next server added brings it back.
    m_table.Clear();
    m_table.RemoveAllRows();
    m_cycle.tableCleared();
}

void Monitor::AddServer_OK(const QString& name)
{
    if (!name.isEmpty()) {
        m_table.AddServerRow(name);
        m_store.SaveSettings(m_settings, m_table);
    }
    m_cycle.setPollCountdown(0);
}

void Monitor::Options_OK(const Settings& chosen)
{
    m_settings = chosen;
    m_store.SaveSettings(m_settings, m_table);
    m_cycle.setPollCountdown(0);
}

} // namespace ostrelle
