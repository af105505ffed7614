#pragma once

#include "platform/notifier.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

namespace ostrelle {

class PollCycle;
class ServerListModel;

// What the desktop hears of the monitor that runs all day: a notification when a server turns red
// or comes back, the clock is stepped or refused, or the servers stop agreeing, each only when it
// changes; and the state at a glance for the tray. It knows no widgets.
class DesktopStatus : public QObject
{
    Q_OBJECT
public:
    enum class Health {
        Healthy,     // every server usable
        SomeRed,     // at least one server red
        ClockNotSet, // adjustment is on and the last pass could not set the clock
    };

    DesktopStatus(PollCycle& cycle, ServerListModel& servers, QObject* parent = nullptr);

    // None until given; off while the operator has switched notifications off.
    void setNotifier(Notifier& notifier) { m_notifier = &notifier; }
    void setNotifying(bool on) { m_notifying = on; }

    Health health() const;
    // "5 servers, 1 red; clock set from 127.0.0.3 at 14:02 UTC".
    QString summary() const;

signals:
    void changed();

private:
    void passFinished(bool noMajority);
    void clockStepped(const QString& server, double offsetSeconds);
    void clockRefused(const QString& reason, bool cancelled);
    void notify(const QString& topic, const QString& summary, const QString& body, Notifier::Urgency urgency);

    PollCycle& m_cycle;
    ServerListModel& m_servers;
    Notifier* m_notifier = nullptr;
    bool m_notifying = true;

    QHash<QString, bool> m_red; // by server name, as of the last pass
    bool m_noMajority = false;
    bool m_clockNotSet = false;
    QString m_lastRefusal;
    QString m_setFrom;
    QDateTime m_setAt;
};

} // namespace ostrelle
