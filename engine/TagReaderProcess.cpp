#include "engine/TagReaderProcess.h"

#include "engine/FileInHand.h"
#include "engine/FilingError.h"
#include "engine/TagReader.h"

#include <QByteArray>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace TagReaderProcess {
namespace {

// The descriptor of the socket in the child.
constexpr int kChildSocket = 3;
// A reply larger than this is no reply of the child's: ten tag values, none
// of which any song fills with megabytes.
constexpr quint32 kMostReplyBytes = 16 << 20;
// How long a child may take to start and say it is ready.
constexpr int kStartLimitMs = 10000;

QMutex lock; // one read at a time, the child's state with it
pid_t child = 0;
int channel = -1;
int timeLimitMs = 30000;
bool inProcess = false; // the child could not be started: tags are read here

// The child beside the program: installed under libexec, or in the build tree.
QByteArray childPath()
{
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString folder = QFileInfo(program).absolutePath();
    for (const QString& candidate : {folder + QStringLiteral("/../libexec/tovrel/tovrel-tag-reader"),
                                     folder + QStringLiteral("/../engine/tovrel-tag-reader")}) {
        if (QFileInfo(candidate).isExecutable())
            return QFile::encodeName(candidate);
    }
    return {};
}

void stopChild()
{
    if (channel >= 0)
        ::close(channel);
    channel = -1;
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    child = 0;
}

bool childRunning()
{
    if (child > 0 && ::waitpid(child, nullptr, WNOHANG) == child)
        child = 0; // ended, and reaped here: its number may go to another process
    return child > 0;
}

bool sendAll(int fd, const QByteArray& bytes, int passedFd = -1)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        iovec part{const_cast<char*>(bytes.constData() + sent), size_t(bytes.size() - sent)};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        if (passedFd >= 0 && sent == 0) { // the descriptor goes with the first byte
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            header->cmsg_level = SOL_SOCKET;
            header->cmsg_type = SCM_RIGHTS;
            header->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(header), &passedFd, sizeof(int));
        }
        const ssize_t done = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        sent += done;
    }
    return true;
}

// Reads `count` bytes before `deadline`, and the descriptor that came with
// them into `passedFd` when asked; false at the end of the stream, a failure
// or the deadline.
bool receiveAll(int fd, char* into, size_t count, const QDeadlineTimer& deadline, int* passedFd = nullptr)
{
    size_t got = 0;
    while (got < count) {
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, deadline.isForever() ? -1 : int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        iovec part{into + got, count - got};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t done = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
                int received = -1;
                std::memcpy(&received, CMSG_DATA(header), sizeof(int));
                if (passedFd && *passedFd < 0)
                    *passedFd = received;
                else
                    ::close(received);
            }
        }
        got += size_t(done);
    }
    return true;
}

// A message: its length, then its bytes.
QByteArray framed(const QByteArray& body)
{
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << quint32(body.size());
    return bytes + body;
}

bool receiveFramed(int fd, QByteArray& body, const QDeadlineTimer& deadline, int* passedFd = nullptr)
{
    char length[4];
    if (!receiveAll(fd, length, sizeof length, deadline, passedFd))
        return false;
    quint32 size = 0;
    QDataStream(QByteArray::fromRawData(length, sizeof length)) >> size;
    if (size > kMostReplyBytes)
        return false;
    body.resize(qsizetype(size));
    return receiveAll(fd, body.data(), size, deadline);
}

// Starts the child with its end of the socket, and waits until it says it is ready.
bool startChild()
{
    const QByteArray path = childPath();
    int ends[2];
    if (path.isEmpty() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    // Above the descriptor the child gets it on, so that the dup2 of the spawn clears its close-on-exec.
    const int childEnd = ::fcntl(ends[1], F_DUPFD_CLOEXEC, kChildSocket + 1);
    ::close(ends[1]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, childEnd, kChildSocket);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t none, usual;
    sigemptyset(&none);
    sigemptyset(&usual);
    sigaddset(&usual, SIGPIPE);
    sigaddset(&usual, SIGALRM);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &usual);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* arguments[] = {const_cast<char*>(path.constData()), nullptr};
    const bool spawned =
        childEnd >= 0 && ::posix_spawn(&child, path.constData(), &actions, &attributes, arguments, environ) == 0;
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (childEnd >= 0)
        ::close(childEnd);
    channel = ends[0];
    if (!spawned)
        child = 0;
    QByteArray ready;
    if (spawned && receiveFramed(channel, ready, QDeadlineTimer(kStartLimitMs)) && ready == "ready")
        return true;
    stopChild();
    return false;
}

TagValues readHere(int fd, const QString& fileName)
{
    TagReader reader;
    reader.OpenTagFile(fd, fileName);
    return reader.tags();
}

QByteArray answer(int fd, const QString& fileName)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    try {
        const TagValues t = readHere(fd, fileName);
        out << true << t.artist << t.album << t.title << qint32(t.track) << t.albumArtist << qint32(t.disc)
            << qint32(t.discTotal) << t.compilation << t.date << t.genre;
    } catch (const std::exception& failure) {
        const FilingError error = FilingError::of(failure);
        out << false << qint32(error.number()) << error.description() << qint32(error.lastDllError());
    }
    return bytes;
}

TagValues fromAnswer(const QByteArray& bytes)
{
    QDataStream in(bytes);
    bool read = false;
    in >> read;
    TagValues t;
    qint32 track = 0, disc = 0, discTotal = 0, number = 0, lastError = 0;
    QString description;
    if (read)
        in >> t.artist >> t.album >> t.title >> track >> t.albumArtist >> disc >> discTotal >> t.compilation >>
            t.date >> t.genre;
    else
        in >> number >> description >> lastError;
    if (in.status() != QDataStream::Ok)
        throw FileInHand::readerStopped();
    if (!read)
        throw FilingError(number, description, lastError);
    t.track = track;
    t.disc = disc;
    t.discTotal = discTotal;
    return t;
}

} // namespace

TagValues read(int fd, const QString& fileName, const std::function<void()>& meanwhile)
{
    const QMutexLocker locked(&lock);
    const QByteArray request = framed(fileName.toUtf8());
    for (int attempt = 0; !inProcess; ++attempt) {
        // A child that ended between two files is started again; the file is not to blame.
        if (!childRunning()) {
            stopChild();
            if (!startChild()) {
                qWarning("tovrel: the tag reader process could not be started; tags are read by the program itself");
                inProcess = true;
                break;
            }
        }
        if (sendAll(channel, request, fd))
            break;
        stopChild();
        if (attempt > 0)
            throw FileInHand::readerStopped();
    }
    if (meanwhile)
        meanwhile();
    if (inProcess)
        return readHere(fd, fileName);
    QByteArray reply;
    if (!receiveFramed(channel, reply, QDeadlineTimer(timeLimitMs))) {
        stopChild(); // it died on the file, or took too long over it
        throw FileInHand::readerStopped();
    }
    return fromAnswer(reply);
}

void readInProcess(bool inProgram)
{
    const QMutexLocker locked(&lock);
    inProcess = inProgram;
}

void setTimeLimit(int milliseconds)
{
    const QMutexLocker locked(&lock);
    timeLimitMs = milliseconds;
}

pid_t childProcess()
{
    const QMutexLocker locked(&lock);
    if (!childRunning()) {
        stopChild();
        startChild();
    }
    return child;
}

int serve(int socketFd)
{
    if (!sendAll(socketFd, framed("ready")))
        return 1;
    for (;;) {
        int fd = -1;
        QByteArray name;
        if (!receiveFramed(socketFd, name, QDeadlineTimer(QDeadlineTimer::Forever), &fd))
            return 0; // the program ended, or closed the socket
        // A read that outlasts the program's patience ends the child, even when the program is gone.
        ::alarm(unsigned(timeLimitMs / 1000 + 5));
        const QByteArray reply = fd >= 0 ? answer(fd, QString::fromUtf8(name)) : QByteArray();
        ::alarm(0);
        if (fd >= 0)
            ::close(fd);
        if (reply.isEmpty() || !sendAll(socketFd, framed(reply)))
            return 1;
    }
}

} // namespace TagReaderProcess
