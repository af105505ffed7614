#pragma once

#include <QString>
#include <memory>

namespace ostrelle {

// Desktop notifications. Behind an interface so that nothing above knows the desktop's bus.
class Notifier
{
public:
    enum class Urgency : unsigned char { Low = 0, Normal = 1, Critical = 2 };

    virtual ~Notifier() = default;

    // Shows the notification for topic, or replaces the one already shown for it: one per topic at
    // a time, never a stack. Without a notification service nothing is shown and nothing fails.
    virtual void notify(const QString& topic, const QString& summary, const QString& body,
                        Urgency urgency) = 0;
};

// This system's: org.freedesktop.Notifications on the session bus (Linux); elsewhere one that
// shows nothing.
std::unique_ptr<Notifier> CreateNotifier();

} // namespace ostrelle
