#include "platform/timedatedclock.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

namespace ostrelle {

namespace {

const QString Service = QStringLiteral("org.freedesktop.timedate1");
const QString Path = QStringLiteral("/org/freedesktop/timedate1");
const QString Interface = QStringLiteral("org.freedesktop.timedate1");

} // namespace

TimedatedClockStepper::TimedatedClockStepper(const QDBusConnection& bus, std::chrono::milliseconds answerWait,
                                             QObject* parent)
    : ClockStepper(parent), m_bus(bus), m_answerWait(answerWait)
{
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, &TimedatedClockStepper::noAnswer);
}

bool TimedatedClockStepper::isDeclinedAuthorisation(const QString& errorName)
{
    return errorName == QLatin1String("org.freedesktop.DBus.Error.AccessDenied") ||
           errorName == QLatin1String("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired") ||
           errorName == QLatin1String("org.freedesktop.PolicyKit1.Error.NotAuthorized") ||
           errorName == QLatin1String("org.freedesktop.PolicyKit1.Error.Cancelled");
}

void TimedatedClockStepper::startStep(std::chrono::nanoseconds offset)
{
    // No system bus at all (no systemd, a minimal container): say so now, not after the wait that
    // is meant for a password prompt.
    if (!m_bus.isConnected()) {
        finish(false, QStringLiteral("The system bus cannot be reached: %1").arg(m_bus.lastError().message()),
               false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("SetTime"));
    // Relative, so that the time the operator spends in the password prompt is not lost.
    call << qlonglong(std::chrono::round<std::chrono::microseconds>(offset).count()) << true << true;
    call.setInteractiveAuthorizationAllowed(true);
    // The bus is given a little longer than our own wait, so that our time-out is the one seen.
    const int busTimeoutMs = int(m_answerWait.count()) + 1000;
    m_pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call, busTimeoutMs), this);
    connect(m_pending, &QDBusPendingCallWatcher::finished, this, &TimedatedClockStepper::answered);
    m_answerTimer.start(m_answerWait);
}

void TimedatedClockStepper::answered(QDBusPendingCallWatcher* watcher)
{
    if (watcher != m_pending)
        return;
    m_answerTimer.stop();
    m_pending = nullptr;
    watcher->deleteLater();
    const QDBusPendingReply<> reply = *watcher;
    if (!reply.isError()) {
        finish(true, {}, false);
        return;
    }
    const QDBusError error = reply.error();
    finish(false, error.message().isEmpty() ? error.name() : error.message(),
           isDeclinedAuthorisation(error.name()));
}

void TimedatedClockStepper::noAnswer()
{
    delete m_pending;
    m_pending = nullptr;
    const std::chrono::duration<double> waited = m_answerWait;
    finish(false, QStringLiteral("No answer from systemd-timedated within %1 s").arg(waited.count()), false);
}

TimedatedTimeService::TimedatedTimeService(const QDBusConnection& bus) : m_bus(bus) {}

void TimedatedTimeService::ask(QObject* context, Answer answer) const
{
    // No system bus or no timedated: nothing keeps the clock that this program could hand over.
    if (!m_bus.isConnected()) {
        m_last = {};
        answer(m_last);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    call << Interface;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, int(AnswerWait.count())), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [this, answer = std::move(answer)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QVariantMap> reply = *finished;
                         TimeServiceState state;
                         if (!reply.isError()) {
                             const QVariantMap properties = reply.value();
                             state.keepsClock = properties.value(QStringLiteral("NTP")).toBool();
                             state.synchronised =
                                 properties.value(QStringLiteral("NTPSynchronized")).toBool();
                             state.canHandOver = properties.value(QStringLiteral("CanNTP")).toBool();
                         }
                         m_last = state;
                         answer(state);
                     });
}

void TimedatedTimeService::setAutomaticSync(bool on, QObject* context, Done done)
{
    if (!m_bus.isConnected()) {
        done(false, QStringLiteral("The system bus cannot be reached: %1").arg(m_bus.lastError().message()));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("SetNTP"));
    call << on << true;
    call.setInteractiveAuthorizationAllowed(true);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, int(SwitchWait.count())), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<> reply = *finished;
                         const QDBusError error = reply.error();
                         done(!reply.isError(), error.message().isEmpty() ? error.name() : error.message());
                     });
}

} // namespace ostrelle
