#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>

namespace ostrelle {

// Stands in for systemd-timedated on a private bus: records each SetTime call and answers with
// success, an error of the test's choosing, or not at all (until answerLate()); while NTP is on it
// refuses every SetTime, as timedated does. SetNTP switches NTP where CanNTP allows it.
class FakeTimedated : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.timedate1")
    Q_PROPERTY(bool CanNTP MEMBER canNtp)
    Q_PROPERTY(bool NTP MEMBER ntp)
    Q_PROPERTY(bool NTPSynchronized MEMBER ntpSynchronized)
public:
    enum class Answer { Success, Error, Silence };

    struct Call
    {
        qlonglong usecUtc = 0;
        bool relative = false;
        bool interactive = false;
        bool interactiveFlag = false; // the message header allows interactive authorisation
    };

    using QObject::QObject;

    // Takes timedated's name and object path on bus; false when either is already taken.
    [[nodiscard]] bool registerOn(const QDBusConnection& bus);
    // Gives the name and the object back: timedated is then absent from the bus.
    void unregister();

    Answer answer = Answer::Success;
    QString errorName;
    QString errorMessage;
    QList<Call> calls;

    bool canNtp = true;
    bool ntp = false;
    bool ntpSynchronized = false;
    struct NtpCall
    {
        bool useNtp = false;
        bool interactive = false;
        bool interactiveFlag = false;
    };
    QList<NtpCall> ntpCalls;

    // Sends the success that a silent answer held back.
    void answerLate();
    // Back to a timedated that grants every change and keeps no clock of its own, calls forgotten.
    void reset()
    {
        answer = Answer::Success;
        calls.clear();
        ntpCalls.clear();
        canNtp = true;
        ntp = false;
        ntpSynchronized = false;
    }

public slots:
    void SetTime(qlonglong usecUtc, bool relative, bool interactive);
    void SetNTP(bool useNtp, bool interactive);

private:
    QDBusConnection m_bus{QString()};
    QList<QDBusMessage> m_heldBack;
};

} // namespace ostrelle
