// The checks of commonold that ask the operating system directly.
#include "engine/commonold_unix.h"

#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/ProcessFileSnapshot.h"

#include <QDir>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

// A lease is broken by signalling its holder with SIGIO, whose default action
// ends the process. The holders look at their leases instead of waiting for
// the signal, so it is ignored for good before the first lease is taken.
void ignoreLeaseBreakSignal()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGIO, SIG_IGN); });
}

namespace {

// How long a file nobody can be seen holding must have stood still before it
// is taken, where the holders of some files cannot be seen at all.
constexpr time_t kStandStillSeconds = 5;

// NotOwner: another account's file, which only root may lease. NoLeases: a
// file system without leases, such as a network share, whose other clients no
// look at this machine's processes can see.
enum class LeaseAnswer { Free, Held, NotOwner, NoLeases };

// The kernel grants a write lease only when no other descriptor on the file is
// open anywhere (mappings keep theirs), so the lease answers for every process
// of every user. While it is held other openers wait, so the caller closes the
// descriptor, which ends the lease, right after asking.
LeaseAnswer askKernel(int fd)
{
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0)
        return LeaseAnswer::Free;
    if (errno == EAGAIN)
        return LeaseAnswer::Held;
    return errno == EINVAL ? LeaseAnswer::NoLeases : LeaseAnswer::NotOwner;
}

// Every write changes a file's change time, and nothing else can set it back.
bool hasStoodStill(const struct stat& info)
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - info.st_ctim.tv_sec >= kStandStillSeconds;
}

} // namespace

commonold::FileCheck checkFileAt(int dirFd, const QByteArray& name, ProcessFileSnapshot* pass, bool* opened)
{
    ignoreLeaseBreakSignal();
    commonold::FileCheck check;
    struct stat info;
    // A link is not followed: a file swapped for one after it was listed is not taken.
    const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (opened)
        *opened = fd >= 0;
    if (fd < 0) {
        if (::fstatat(dirFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            check.size = info.st_size;
        return check;
    }
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        check.size = info.st_size;
        check.owner = info.st_uid;
        check.inode = info.st_ino;
        check.changeTime = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
        const LeaseAnswer answer = askKernel(fd);
        switch (answer) {
        case LeaseAnswer::Free:
            check.free = true;
            break;
        case LeaseAnswer::Held:
            break;
        case LeaseAnswer::NotOwner:
        case LeaseAnswer::NoLeases: {
            ProcessFileSnapshot ownSnapshot;
            ProcessFileSnapshot& snapshot = pass ? *pass : ownSnapshot;
            check.free = !snapshot.isHeldElsewhere(info.st_dev, info.st_ino);
            // A writer no one can see may only be pausing: wait until the file
            // has stood still for a while.
            const bool writersUnseen = answer == LeaseAnswer::NoLeases || !snapshot.seesEveryProcess();
            if (check.free && writersUnseen && !hasStoodStill(info)) {
                check.free = false;
                check.settling = true;
            }
            break;
        }
        }
    }
    ::close(fd);
    return check;
}

int openRegularFileForReading(const QString& path, struct stat* info)
{
    // Neither a link (another account's, in a shared inbox) is followed nor a
    // FIFO waited on: both are not files to read.
    const int fd =
        ::open(FileName::encode(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        throw FilingError::fromErrno(errno == ELOOP ? EINVAL : errno);
    struct stat status;
    int err = 0;
    if (::fstat(fd, &status) != 0)
        err = errno;
    else if (!S_ISREG(status.st_mode))
        err = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    if (err != 0) {
        ::close(fd);
        throw FilingError::fromErrno(err);
    }
    if (info)
        *info = status;
    return fd;
}

namespace commonold {

FileCheck CheckFile(const QString& path, ProcessFileSnapshot* pass)
{
    return checkFileAt(AT_FDCWD, FileName::encode(path), pass);
}

QString ResolvedFolder(const QString& path)
{
    if (path.isEmpty())
        return path;
    const QString absolute = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    // Resolve the longest part that exists; what follows it cannot hold a link.
    QString head = absolute;
    QString rest;
    for (;;) {
        if (char* real = ::realpath(FileName::encode(head).constData(), nullptr)) {
            const QString resolved = FileName::decode(real);
            ::free(real);
            return QDir::cleanPath(resolved + QLatin1Char('/') + rest);
        }
        const qsizetype slash = head.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || head == QLatin1String("/"))
            return QDir::cleanPath(absolute);
        rest = head.mid(slash + 1) + QLatin1Char('/') + rest;
        head = slash == 0 ? QStringLiteral("/") : head.left(slash);
    }
}

qint64 DiskFreeBytes(const QString& path)
{
    struct statvfs info;
    if (::statvfs(FileName::encode(path).constData(), &info) != 0)
        return 0;
    return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
}

} // namespace commonold
