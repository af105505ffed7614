#pragma once

#include "platform/notifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

namespace ostrelle {

// Linux only. org.freedesktop.Notifications: each topic's notification is replaced through the
// id the service gave it (replaces_id). Calls never wait for the service; a missing one answers
// with an error, which is dropped.
class FreedesktopNotifier final : public QObject, public Notifier
{
    Q_OBJECT
public:
    explicit FreedesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    void notify(const QString& topic, const QString& summary, const QString& body, Urgency urgency) override;

private:
    QDBusConnection m_bus;
    QHash<QString, uint> m_ids; // the service's id of each topic's notification
};

} // namespace ostrelle
