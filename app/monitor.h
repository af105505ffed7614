#pragma once

#include "ntp/pollcycle.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"

#include <QString>

namespace ostrelle {

class Clock;
class MessageDialog;
class SettingsBackend;
class UdpChannel;

// What the main window and its dialogs do, without the widgets: the start-up sequence, the
// buttons' handlers and the dialogs' OK. Owns the server table, the settings and the poll cycle.
class Monitor
{
public:
    Monitor(Clock& clock, SettingsBackend& backend, UdpChannel& channel, MessageDialog& messages);

    ServerTable& table() { return m_table; }
    const Settings& settings() const { return m_settings; }
    PollCycle& cycle() { return m_cycle; }

    // Program-wide defaults, before anything reads them.
    void InitGlobals();
    // Column widths, defaults, stored settings and servers, then the first poll step at once.
    void Form_Load();
    // Removes the operator's current row (nothing when there is none) and saves.
    void CommandRemove_Click();
    // Asks "Clear All Servers ?"; on Yes empties the table and saves.
    void CommandClear_Click();

    // The add-server dialog's OK: adds a non-empty name verbatim, saves, and polls at the next tick.
    void AddServer_OK(const QString& name);
    // The options dialog's OK: takes the chosen settings over, saves, and polls at the next tick.
    void Options_OK(const Settings& chosen);

private:
    void emptyTable();

    MessageDialog& m_messages;
    ServerTable m_table;
    Settings m_settings;
    SettingsStore m_store;
    PollCycle m_cycle;
};

} // namespace ostrelle
