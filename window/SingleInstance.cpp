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
const QByteArray kStatusRequest = QByteArrayLiteral("status\n");

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

// The lock's and the socket's names without their endings, for `settingsFile`;
// empty when there is no private place to meet.
QString meetingPlace(const QString& settingsFile)
{
    const QString folder = meetingFolder();
    if (folder.isEmpty())
        return {};
    const QByteArray key =
        QCryptographicHash::hash(QFileInfo(settingsFile).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return folder + QStringLiteral("/tovrel-") + QString::fromLatin1(key);
}

} // namespace

SingleInstance::SingleInstance(const QString& settingsFile, QObject* parent) : QObject(parent)
{
    const QString name = meetingPlace(settingsFile);
    if (name.isEmpty()) // no private place to meet: every start runs
        return;
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
QByteArray SingleInstance::askFirstToShow() const
{
    return ask(socketPath_, kShowRequest);
}

namespace {

// The socket of the program running for `settingsFile`; empty when none runs.
QString runningSocket(const QString& settingsFile)
{
    const QString name = meetingPlace(settingsFile);
    if (name.isEmpty())
        return {};
    QLockFile lock(name + QStringLiteral(".lock"));
    lock.setStaleLockTime(0);
    if (lock.tryLock(0)) // nothing holds the place: none runs
        return {};
    return name + QStringLiteral(".socket");
}

} // namespace

QByteArray SingleInstance::askStatus(const QString& settingsFile)
{
    const QString socket = runningSocket(settingsFile);
    return socket.isEmpty() ? QByteArray() : ask(socket, kStatusRequest);
}

int SingleInstance::askToRun(const QString& settingsFile, const QByteArray& request,
                             const std::function<void(const QByteArray& line)>& each)
{
    const QString socket = runningSocket(settingsFile);
    if (socket.isEmpty())
        return -1;
    int status = -1;
    ask(socket, request + '\n', [&](const QByteArray& line) {
        if (line.startsWith("end "))
            status = line.mid(4).trimmed().toInt();
        else if (!line.startsWith("window ") && !line.startsWith("headless "))
            each(line);
    });
    return status;
}

// The reply is whatever the running program writes before it disconnects,
// each line also given to `each` as it comes: a command may take long.
QByteArray SingleInstance::ask(const QString& socketPath, const QByteArray& request,
                               const std::function<void(const QByteArray& line)>& each)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 3000) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(1000)) {
            socket.write(request);
            if (!socket.waitForBytesWritten(1000))
                return {};
            QByteArray reply;
            const auto take = [&] {
                while (socket.canReadLine()) {
                    const QByteArray line = socket.readLine();
                    reply += line;
                    if (each)
                        each(line.chopped(1));
                }
            };
            while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(each ? 600000 : 2000))
                take();
            take();
            return reply + socket.readAll();
        }
        QThread::msleep(100);
    }
    return {};
}

void SingleInstance::readRequests()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto read = [this, socket] {
            if (!socket->canReadLine())
                return;
            const QByteArray request = socket->readLine();
            socket->write(answer(request));
            if (request.startsWith("refile") || request.startsWith("put-back"))
                emit commandRequested(request.trimmed(), socket); // it disconnects once done
            else
                socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        read();
    }
}

// "window <pid>" or "headless <pid>", after showing the window when asked
// to; the report follows for "status".
QByteArray SingleInstance::answer(const QByteArray& request)
{
    const QByteArray who = (headless_ ? "headless " : "window ") + QByteArray::number(::getpid()) + '\n';
    if (request == kShowRequest && !headless_)
        emit showRequested();
    if (request == kStatusRequest && report_)
        return who + report_().toUtf8();
    return who;
}
