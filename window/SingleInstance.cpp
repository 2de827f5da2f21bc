#include "window/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kShowRequest = QByteArrayLiteral("show\n");

// Where every start of this user meets, whatever its environment says: a
// start from a desktop, a shell without XDG_RUNTIME_DIR (ssh, cron) or a
// service must find the same lock. A folder in /tmp named after the user, used
// only while it is this user's own and private; empty when it is not.
QString meetingFolder()
{
    const uid_t user = ::geteuid();
    const QByteArray folder = "/tmp/tovrel-" + QByteArray::number(user);
    ::mkdir(folder.constData(), 0700);
    struct stat info;
    if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != user ||
        (info.st_mode & 077) != 0)
        return {};
    return QString::fromLocal8Bit(folder);
}

} // namespace

SingleInstance::SingleInstance(const QString& settingsFile, QObject* parent) : QObject(parent)
{
    const QString folder = meetingFolder();
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
