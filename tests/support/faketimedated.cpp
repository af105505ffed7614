#include "tests/support/faketimedated.h"

namespace ostrelle {

namespace {

const QString Service = QStringLiteral("org.freedesktop.timedate1");
const QString Path = QStringLiteral("/org/freedesktop/timedate1");

} // namespace

bool FakeTimedated::registerOn(const QDBusConnection& bus)
{
    m_bus = bus;
    return m_bus.registerObject(Path, this,
                                QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
           m_bus.registerService(Service);
}

void FakeTimedated::unregister()
{
    m_bus.unregisterService(Service);
    m_bus.unregisterObject(Path);
}

void FakeTimedated::SetTime(qlonglong usecUtc, bool relative, bool interactive)
{
    calls.append({usecUtc, relative, interactive, message().isInteractiveAuthorizationAllowed()});
    if (ntp) {
        sendErrorReply(QStringLiteral("org.freedesktop.timedate1.AutomaticTimeSyncEnabled"),
                       QStringLiteral("Automatic time synchronization is enabled"));
        return;
    }
    switch (answer) {
    case Answer::Success:
        break;
    case Answer::Error:
        sendErrorReply(errorName, errorMessage);
        break;
    case Answer::Silence:
        setDelayedReply(true);
        m_heldBack.append(message());
        break;
    }
}

void FakeTimedated::SetNTP(bool useNtp, bool interactive)
{
    ntpCalls.append({useNtp, interactive, message().isInteractiveAuthorizationAllowed()});
    if (!canNtp) {
        sendErrorReply(QStringLiteral("org.freedesktop.timedate1.NoNTPSupport"),
                       QStringLiteral("NTP not supported"));
        return;
    }
    ntp = useNtp;
}

void FakeTimedated::answerLate()
{
    for (const QDBusMessage& held : std::as_const(m_heldBack))
        m_bus.send(held.createReply());
    m_heldBack.clear();
}

} // namespace ostrelle
