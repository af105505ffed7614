#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace ostrelle {

// One window per user: the first copy holds a lock in the user's own folder and listens on a
// local socket; a later copy finds the lock taken, asks the running copy to show its window and
// ends. A copy that ended badly leaves a lock that names a dead process, which the next one takes
// over, so a crash never blocks the next start.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // folder: where the lock lives and, where the system allows it, the socket (the user's runtime
    // folder); empty: this system's default for the user.
    explicit SingleInstance(const QString& folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        First,      // this copy runs the window; showRequested() tells of later starts
        HandedOver, // a running copy was asked to show itself; this one should end
        Alone,      // neither lock nor socket could be had: run without the hand-over
    };
    Claim claim();

    QString errorString() const { return m_error; }

signals:
    // A later start asked for the window.
    void showRequested();

private:
    bool askRunningCopy();
    void acceptConnection();

    QString m_folder;
    QString m_socketName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    QString m_error;
};

} // namespace ostrelle
