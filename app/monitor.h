#pragma once

#include "ntp/pollcycle.h"
#include "servers/serverlistmodel.h"
#include "servers/settingsstore.h"

#include <QString>

namespace ostrelle {

class Clock;
class MessageDialog;
class SettingsBackend;
class UdpChannel;

// Keeps the table and the cycle in step: the cycle polls the table's rows, and the table shows
// what the cycle finds.
void LinkServerTable(ServerListModel& table, PollCycle& cycle);

// What the main window and its dialogs act on, without the widgets: the server list, the
// settings, the store and the poll cycle, and what each operator action does to them.
class Monitor
{
public:
    Monitor(Clock& clock, SettingsBackend& backend, UdpChannel& channel, MessageDialog& messages);

    ServerListModel& servers() { return m_servers; }
    const Settings& settings() const { return m_settings; }
    PollCycle& cycle() { return m_cycle; }

    // Stored settings and servers, then the first poll step at once.
    void start();
    // Adds a usable name (see CheckServerName) as the last row and saves; returns its row, or -1
    // when nothing was added. Polls at the next tick either way.
    int addServer(const QString& name);
    // Removes one row and saves; a row outside the list does nothing.
    void removeServer(int row);
    // Asks "Clear All Servers ?"; on Yes empties the list and saves.
    void clearServers();
    // Takes the chosen settings over, saves, and polls at the next tick.
    void applySettings(const Settings& chosen);

private:
    void save();

    MessageDialog& m_messages;
    ServerListModel m_servers;
    Settings m_settings;
    SettingsStore m_store;
    PollCycle m_cycle;
};

} // namespace ostrelle
