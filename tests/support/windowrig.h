#pragma once

#include "app/mainwindow.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"

#include <QAbstractButton>
#include <QTest>

namespace ostrelle::test {

// The program's seams as fakes; the store holds the given "key=text" pairs as an earlier run left them.
struct Fakes
{
    explicit Fakes(const QStringList& stored)
    {
        for (const QString& pair : stored)
            backend.seed(QStringLiteral("Settings"), pair.section('=', 0, 0), pair.section('=', 1));
    }
    QString storedText(const QString& key) const
    {
        return backend.stored(QStringLiteral("Settings"), key).value_or(QStringLiteral("<absent>"));
    }
    static QString serverKey(int index)
    {
        return QStringLiteral("NtpServer%1").arg(index, 4, 10, QLatin1Char('0'));
    }
    QStringList storedNames() const
    {
        QStringList names;
        for (int i = 1; i <= storedText(QStringLiteral("NtpServerCnt")).trimmed().toInt(); ++i)
            names << storedText(serverKey(i));
        return names;
    }
    // What an earlier run leaves in the store for these servers.
    static QStringList storedServers(const QStringList& names)
    {
        QStringList pairs;
        for (int i = 0; i < names.size(); ++i)
            pairs << serverKey(i + 1) + '=' + names[i];
        return names.isEmpty() ? pairs : pairs << QStringLiteral("NtpServerCnt= %1").arg(names.size());
    }

    FakeClock clock;
    MemorySettingsBackend backend;
    FakeUdpChannel channel;
    ScriptedMessageDialog messages;
};

// The main window over fakes, started as the program starts it.
struct WindowRig : Fakes
{
    explicit WindowRig(const QStringList& stored = {}) : Fakes(stored)
    {
        commitsAtStart = backend.commitCount;
    }
    bool nothingSaved() const { return backend.commitCount == commitsAtStart; }
    Monitor& monitor() { return window.monitor(); }
    bool pollsAtNextTick() { return monitor().cycle().countdown() == 0; }

    MainWindow window{clock, backend, channel, messages};
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

} // namespace ostrelle::test
