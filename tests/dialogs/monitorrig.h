#pragma once

#include "app/monitor.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"

#include <QAbstractButton>
#include <QTest>

namespace ostrelle {

// The program's seams as fakes; the store holds the given "key=text" pairs as an earlier run left them.
struct Fakes
{
    explicit Fakes(const QStringList& stored)
    {
        for (const QString& pair : stored)
            backend.seed(SettingsSection, pair.section('=', 0, 0), pair.section('=', 1));
    }
    QString storedText(const QString& key) const
    {
        return backend.stored(SettingsSection, key).value_or(QStringLiteral("<absent>"));
    }
    QStringList storedNames() const
    {
        QStringList names;
        for (int i = 1; i <= storedText(QStringLiteral("NtpServerCnt")).trimmed().toInt(); ++i)
            names << storedText(ServerKey(i));
        return names;
    }

    FakeClock clock;
    MemorySettingsBackend backend;
    FakeUdpChannel channel;
    ScriptedMessageDialog messages;
};

// A started program over fakes, resting with some ticks to go, and a window to own its dialogs.
struct MonitorRig : Fakes
{
    static constexpr int RestingCountdown = 7;

    explicit MonitorRig(const QStringList& stored = {}) : Fakes(stored)
    {
        monitor.Form_Load();
        monitor.cycle().setPollCountdown(RestingCountdown);
        commitsAtStart = backend.commitCount;
    }
    bool nothingSaved() const { return backend.commitCount == commitsAtStart; }

    Monitor monitor{clock, backend, channel, messages};
    QWidget owner;
    int commitsAtStart = 0;
};

template <typename T> T* control(QWidget* window, const QString& name)
{
    T* found = window->findChild<T*>(name);
    return found ? found : (qFatal("no control %s", qPrintable(name)), nullptr);
}

inline void click(QWidget* window, const QString& name)
{
    QTest::mouseClick(control<QAbstractButton>(window, name), Qt::LeftButton);
}

} // namespace ostrelle
