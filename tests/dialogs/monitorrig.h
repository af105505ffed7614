#pragma once

#include "app/monitor.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"

#include <QStringList>
#include <QWidget>

namespace ostrelle {

// A started program over fakes, and the window that owns its dialogs. The store holds the given
// "key=text" pairs as an earlier run left them; the poll cycle rests with some ticks to go.
struct MonitorRig
{
    static constexpr int RestingCountdown = 7;

    explicit MonitorRig(const QStringList& stored = {})
    {
        for (const QString& pair : stored)
            backend.seed(SettingsSection, pair.section(QLatin1Char('='), 0, 0),
                         pair.section(QLatin1Char('='), 1));
        monitor.Form_Load();
        monitor.cycle().setPollCountdown(RestingCountdown);
        commitsAtStart = backend.commitCount;
    }

    QString storedText(const QString& key) const
    {
        return backend.stored(SettingsSection, key).value_or(QStringLiteral("<absent>"));
    }

    QStringList storedNames() const
    {
        QStringList names;
        const int count = storedText(QStringLiteral("NtpServerCnt")).trimmed().toInt();
        for (int i = 1; i <= count; ++i)
            names << storedText(ServerKey(i));
        return names;
    }

    QStringList tableNames()
    {
        QStringList names;
        for (int row = 1; row < monitor.table().Rows(); ++row)
            names << monitor.table().TextMatrix(row, ServerTable::ColServer);
        return names;
    }

    bool nothingSaved() const { return backend.commitCount == commitsAtStart; }

    FakeClock clock;
    MemorySettingsBackend backend;
    FakeUdpChannel channel;
    ScriptedMessageDialog messages;
    Monitor monitor{clock, backend, channel, messages};
    QWidget owner;
    int commitsAtStart = 0;
};

template <typename T> T* control(QWidget* dialog, const QString& name)
{
    T* found = dialog->findChild<T*>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

} // namespace ostrelle
