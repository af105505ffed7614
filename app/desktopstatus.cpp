#include "app/desktopstatus.h"

#include "ntp/pollcycle.h"
#include "servers/serverformat.h"
#include "servers/serverlistmodel.h"

namespace ostrelle {

DesktopStatus::DesktopStatus(PollCycle& cycle, ServerListModel& servers, QObject* parent)
    : QObject(parent), m_cycle(cycle), m_servers(servers)
{
    connect(&cycle, &PollCycle::passFinished, this, &DesktopStatus::passFinished);
    connect(&cycle, &PollCycle::clockStepped, this, &DesktopStatus::clockStepped);
    connect(&cycle, &PollCycle::clockRefused, this, &DesktopStatus::clockRefused);
    connect(&servers, &QAbstractItemModel::rowsRemoved, this, &DesktopStatus::changed);
    connect(&servers, &QAbstractItemModel::rowsInserted, this, &DesktopStatus::changed);
    connect(&servers, &QAbstractItemModel::modelReset, this, &DesktopStatus::changed);
}

DesktopStatus::Health DesktopStatus::health() const
{
    if (m_clockNotSet && m_cycle.settings().adjustClock)
        return Health::ClockNotSet;
    for (int row = 0; row < m_servers.rowCount(); ++row) {
        if (m_red.value(m_servers.record(row).name))
            return Health::SomeRed;
    }
    return Health::Healthy;
}

QString DesktopStatus::summary() const
{
    const int count = m_servers.rowCount();
    int red = 0;
    for (int row = 0; row < count; ++row)
        red += m_red.value(m_servers.record(row).name) ? 1 : 0;
    QString text = count == 1 ? QStringLiteral("1 server") : QStringLiteral("%1 servers").arg(count);
    if (count > 0)
        text += red == 0 ? QStringLiteral(", none red") : QStringLiteral(", %1 red").arg(red);
    if (m_cycle.settings().adjustClock && m_clockNotSet)
        text += QStringLiteral("; clock not set");
    else if (!m_setFrom.isEmpty())
        text += QStringLiteral("; clock set from %1 at %2 UTC")
                    .arg(m_setFrom, m_setAt.toString(QStringLiteral("HH:mm")));
    return text;
}

void DesktopStatus::passFinished(bool noMajority)
{
    QHash<QString, bool> red;
    for (int row = 0; row < m_servers.rowCount(); ++row) {
        const ServerRecord& record = m_servers.record(row);
        const bool isRed = record.unhealthy();
        red.insert(record.name, isRed);
        // A server seen for the first time counts as healthy before: one that starts red is news.
        if (isRed == m_red.value(record.name))
            continue;
        if (isRed)
            notify(QStringLiteral("server:") + record.name,
                   QStringLiteral("%1 is not usable").arg(record.name),
                   m_servers.index(row, 0).data(Qt::ToolTipRole).toString(), Notifier::Urgency::Normal);
        else
            notify(QStringLiteral("server:") + record.name,
                   QStringLiteral("%1 is usable again").arg(record.name), {}, Notifier::Urgency::Normal);
    }
    m_red = red;

    const bool adjusting = m_cycle.settings().adjustClock;
    if (noMajority && !m_noMajority) {
        // Only with adjustment on does the operator lose something: the clock is not set.
        notify(QStringLiteral("agreement"), QStringLiteral("No majority among the servers"),
               adjusting ? QStringLiteral("The clock was not set.") : QString(),
               adjusting ? Notifier::Urgency::Critical : Notifier::Urgency::Normal);
    }
    m_noMajority = noMajority;
    if (adjusting && noMajority)
        m_clockNotSet = true;
    emit changed();
}

void DesktopStatus::clockStepped(const QString& server, double offsetSeconds)
{
    m_clockNotSet = false;
    m_lastRefusal.clear();
    m_setFrom = server;
    m_setAt = QDateTime::currentDateTimeUtc();
    notify(QStringLiteral("clock"), QStringLiteral("Clock set from %1").arg(server),
           QStringLiteral("Moved by %1 secs").arg(SecondsText(offsetSeconds)), Notifier::Urgency::Low);
    emit changed();
}

void DesktopStatus::clockRefused(const QString& reason, bool cancelled)
{
    m_clockNotSet = true;
    // The operator who declined the prompt knows already; the same refusal again is no news.
    if (!cancelled && reason != m_lastRefusal)
        notify(QStringLiteral("clock"), QStringLiteral("Unable to set system time."), reason,
               Notifier::Urgency::Critical);
    m_lastRefusal = reason;
    emit changed();
}

void DesktopStatus::notify(const QString& topic, const QString& summary, const QString& body,
                           Notifier::Urgency urgency)
{
    if (m_notifier && m_notifying)
        m_notifier->notify(topic, summary, body, urgency);
}

} // namespace ostrelle
