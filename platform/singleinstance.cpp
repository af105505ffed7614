#include "platform/singleinstance.h"

#include "platform/lockfile.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace ostrelle {

namespace {

constexpr QByteArrayView ShowRequest = "show\n";
// How long a later copy waits for the first one, which may hold the lock but not yet listen.
constexpr int AnswerWaitMs = 5000;

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent),
      m_folder(folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) : folder)
{
#ifdef Q_OS_WIN
    // Pipe names are not paths; the folder is the user's own, so its hash names the user's pipe.
    m_socketName = QStringLiteral("BrevikonOstrelle-") +
                   QString::fromLatin1(QCryptographicHash::hash(QDir(m_folder).absolutePath().toUtf8(),
                                                                QCryptographicHash::Sha1)
                                           .toHex()
                                           .left(16));
#else
    // In the runtime folder, which only the user may enter.
    m_socketName = QDir(m_folder).filePath(QStringLiteral("ostrelle-window"));
#endif
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::claim()
{
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder)) {
        m_error = QStringLiteral("No folder for the lock");
        return Claim::Alone;
    }
    m_lock = std::make_unique<QLockFile>(QDir(m_folder).filePath(QStringLiteral("ostrelle-window.lock")));
    // Held all day: never stale by age, only when its process is gone.
    m_lock->setStaleLockTime(0);
    if (!TryLockFile(*m_lock)) {
        if (m_lock->error() == QLockFile::LockFailedError && askRunningCopy())
            return Claim::HandedOver;
        m_error = m_lock->error() == QLockFile::LockFailedError
                      ? QStringLiteral("The running copy did not answer")
                      : QStringLiteral("The lock file cannot be written");
        m_lock.reset();
        return Claim::Alone;
    }
    // Holding the lock, any socket left under the name is a dead copy's.
    QLocalServer::removeServer(m_socketName);
    if (!m_server.listen(m_socketName)) {
        m_error = m_server.errorString();
        return Claim::Alone;
    }
    return Claim::First;
}

bool SingleInstance::askRunningCopy()
{
    // The first copy takes the lock before it listens: give it a moment to get there.
    const QDeadlineTimer deadline(AnswerWaitMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_socketName);
        if (socket.waitForConnected(int(deadline.remainingTime()))) {
            socket.write(ShowRequest.data(), ShowRequest.size());
            // Its answer is the socket closing once it has read the request. That close can come
            // before the write is seen to end, and waitForBytesWritten() then says false: asking
            // again would show the window twice, so only what is left unwritten counts.
            static_cast<void>(socket.waitForBytesWritten(int(deadline.remainingTime())));
            if (socket.bytesToWrite() == 0 && (socket.state() == QLocalSocket::UnconnectedState ||
                                               socket.waitForDisconnected(int(deadline.remainingTime()))))
                return true;
        }
        QThread::msleep(50);
    }
    return false;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            const bool show = socket->readLine() == ShowRequest.toByteArray();
            socket->disconnectFromServer();
            if (show)
                emit showRequested();
        });
    }
}

} // namespace ostrelle
