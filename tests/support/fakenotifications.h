#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QVariantMap>

namespace ostrelle {

// Stands in for the desktop's notification service on a private bus: records each Notify call
// and gives each new notification an id of its own.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call
    {
        uint replacesId = 0;
        QString summary;
        QString body;
        int urgency = -1;
        uint id = 0; // the id answered
    };

    using QObject::QObject;

    // Takes the service's name and object path on bus; false when either is already taken.
    [[nodiscard]] bool registerOn(const QDBusConnection& bus);

    QList<Call> calls;

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout);

private:
    uint m_lastId = 0;
};

} // namespace ostrelle
