#include "tests/support/fakenotifications.h"

namespace ostrelle {

bool FakeNotifications::registerOn(const QDBusConnection& bus)
{
    QDBusConnection connection(bus);
    return connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                     QDBusConnection::ExportAllSlots) &&
           connection.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

uint FakeNotifications::Notify(const QString& appName, uint replacesId, const QString& appIcon,
                               const QString& summary, const QString& body, const QStringList& actions,
                               const QVariantMap& hints, int expireTimeout)
{
    Q_UNUSED(appName);
    Q_UNUSED(appIcon);
    Q_UNUSED(actions);
    Q_UNUSED(expireTimeout);
    const uint id = replacesId != 0 ? replacesId : ++m_lastId;
    const QVariant urgency = hints.value(QStringLiteral("urgency"));
    calls.append({replacesId, summary, body, urgency.isValid() ? urgency.toInt() : -1, id});
    return id;
}

} // namespace ostrelle
