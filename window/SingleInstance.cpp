#include "window/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray kShowRequest = QByteArrayLiteral("show\n");

} // namespace

SingleInstance::SingleInstance(const QString& settingsFile, QObject* parent) : QObject(parent)
{
    // The user's private runtime folder: $XDG_RUNTIME_DIR, or a private folder
    // that Qt makes in /tmp when that is unset.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) // no private place to meet: every start runs
        return;
    const QByteArray key =
        QCryptographicHash::hash(QFileInfo(settingsFile).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    const QString name = folder + QStringLiteral("/tovrel-") + QString::fromLatin1(key);
    socketPath_ = name + QStringLiteral(".socket");
    lock_ = std::make_unique<QLockFile>(name + QStringLiteral(".lock"));
    lock_->setStaleLockTime(0); // a lock is stale only when its program is gone
    if (!lock_->tryLock(0)) {
        first_ = lock_->error() != QLockFile::LockFailedError; // a lock that cannot be made guards nothing
        return;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath_); // left by a program that crashed
    server_->listen(socketPath_);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::readRequests);
}

SingleInstance::~SingleInstance() = default;

// The running program may still be between taking its lock and listening, so
// the request is tried for a few seconds.
bool SingleInstance::askFirstToShow() const
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 3000) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(1000)) {
            socket.write(kShowRequest);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(100);
    }
    return false;
}

void SingleInstance::readRequests()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto read = [this, socket] {
            if (socket->canReadLine() && socket->readLine() == kShowRequest)
                emit showRequested();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        read();
    }
}
