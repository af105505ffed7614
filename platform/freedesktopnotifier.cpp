#include "platform/freedesktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace ostrelle {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

FreedesktopNotifier::FreedesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus)
{
}

void FreedesktopNotifier::notify(const QString& topic, const QString& summary, const QString& body,
                                 Urgency urgency)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(urgency))},
                            {QStringLiteral("desktop-entry"), QStringLiteral("ostrelle")}};
    // -1: the service's own time-out; critical ones it keeps until the operator closes them.
    call << QStringLiteral("Brevikon Ostrelle") << m_ids.value(topic) << QStringLiteral("ostrelle") << summary
         << body << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, topic](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (!reply.isError())
                    m_ids.insert(topic, reply.value());
            });
}

} // namespace ostrelle
