#include "engine/LeasedSource.h"

#include "engine/FileName.h"
#include "engine/Folders.h"
#include "engine/FreeNames.h"
#include "engine/OwnFolderChanges.h"
#include "engine/SystemCalls.h"
#include "engine/commonold_unix.h"

#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The window's look at a file holds a lease for two system calls; an open that
// meets it is tried again this many times, a millisecond apart.
constexpr int kLeaseTries = 50;
// The hidden folder of inbox files being removed.
constexpr const char* kRemoving = ".tovrel-removing";

bool sameState(const struct stat& a, const struct stat& b, bool changeTimeToo = true)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           (!changeTimeToo || (a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec));
}

} // namespace

LeasedSource::LeasedSource(const QString& source)
    : LeasedSource(source.left(source.lastIndexOf(QLatin1Char('/')) + 1),
                   source.mid(source.lastIndexOf(QLatin1Char('/')) + 1))
{
}

LeasedSource::LeasedSource(const QString& folder, const QString& below)
{
    const QByteArray path = FileName::encode(below);
    const qsizetype slash = path.lastIndexOf('/');
    name_ = path.mid(slash + 1);
    openFolders(FileName::encode(folder), path.left(qMax<qsizetype>(0, slash)));
    ignoreLeaseBreakSignal(); // the window's own lease is broken by this open
    if (!openFile())
        return;
    // While the lease is held, an open for writing anywhere breaks it, which
    // `changed` sees. It is refused at once when a writer already has the
    // file open, and cannot be had on another account's file or on a file
    // system without leases: the size and times are then all there is to go by.
    if (::fcntl(fd_, F_SETLEASE, F_RDLCK) == 0)
        leased_ = true;
    else if (errno == EAGAIN)
        givenUp_ = true;
}

// Opens `folder`, then the folders of `levels` below it one by one; the last
// is the source's. Throws when one cannot be opened.
void LeasedSource::openFolders(const QByteArray& folder, const QByteArray& levels)
{
    folderFd_ = Folders::openFolder(folder);
    if (folderFd_ >= 0 && ::fstat(folderFd_, &root_) != 0)
        root_ = {};
    for (const QByteArray& level : levels.split('/')) {
        if (folderFd_ < 0)
            break;
        if (level.isEmpty())
            continue;
        const int sub =
            level == ".." ? (errno = EACCES, -1) : Folders::openSubfolder(folderFd_, level.constData(), false);
        const int err = errno;
        // A folder that group or others cannot enter kept the file from them.
        struct stat info;
        if (sub >= 0 && ::fstat(sub, &info) == 0)
            reach_ &= ~mode_t((info.st_mode & S_IXGRP ? 0 : 070) | (info.st_mode & S_IXOTH ? 0 : 007));
        ::close(folderFd_);
        folderFd_ = sub;
        errno = err;
    }
    if (folderFd_ < 0)
        throwErrno();
}

// Opens the source in its folder; false when a lease kept it closed, and the
// move is given up. Throws when it cannot be opened or is no plain file.
bool LeasedSource::openFile()
{
    // A lease (the window's momentary look, or another program's) makes the
    // open fail with EAGAIN: that is no fault of the file, which waits.
    for (int attempt = 0; attempt < kLeaseTries; ++attempt) {
        fd_ = ::openat(folderFd_, name_.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
        if (fd_ >= 0 || errno != EAGAIN)
            break;
        ::usleep(1000);
    }
    if (fd_ < 0 && errno == EAGAIN) {
        givenUp_ = true;
        return false;
    }
    int err = fd_ < 0 ? errno : 0;
    if (!err && ::fstat(fd_, &start_) != 0)
        err = errno;
    else if (!err && !S_ISREG(start_.st_mode))
        err = S_ISDIR(start_.st_mode) ? EISDIR : EINVAL;
    if (err) {
        if (fd_ >= 0)
            ::close(fd_);
        ::close(folderFd_);
        throwErrno(err);
    }
    return true;
}

LeasedSource::~LeasedSource()
{
    ::close(fd_); // ends the lease
    ::close(folderFd_);
}

struct stat LeasedSource::filedAs() const
{
    struct stat info = start_;
    info.st_mode &= ~mode_t(0777) | reach_;
    return info;
}

bool LeasedSource::changed() const
{
    if (givenUp_ || (leased_ && ::fcntl(fd_, F_GETLEASE) != F_RDLCK))
        return true;
    struct stat now;
    return ::fstat(fd_, &now) != 0 || !sameState(now, start_);
}

bool LeasedSource::stillTheSameFile() const
{
    struct stat now;
    return !changed() && ::fstatat(folderFd_, name_.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           sameState(now, start_);
}

void LeasedSource::giveUp()
{
    givenUp_ = true;
    if (leased_)
        ::fcntl(fd_, F_SETLEASE, F_UNLCK);
    leased_ = false;
}

// The cause of a refused removal, for the user: an immutable or append-only
// file (which only root can change back) is told apart from a plain refusal.
QString LeasedSource::whyNotRemoved(int err) const
{
    int flags = 0;
    if (err == EPERM && ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
        if (flags & FS_IMMUTABLE_FL)
            return QStringLiteral("it is immutable");
        if (flags & FS_APPEND_FL)
            return QStringLiteral("it is append-only");
    }
    return FilingError::fromErrno(err).description();
}

// The name could have come to stand for another file since it was checked (a
// file renamed over it): it is first moved to a private folder, where it can
// be compared with the open file at leisure, and put back when it is another.
bool LeasedSource::remove()
{
    if (changed())
        return false;
    QByteArray holdName;
    const int holdFd = Folders::ownHiddenFolder(folderFd_, kRemoving, true, &holdName);
    if (holdFd < 0) {
        notRemovedWhy_ = errno == ENOTDIR || errno == ELOOP || errno == EPERM
                             ? QStringLiteral("%1 in the inbox is in the way").arg(kRemoving)
                             : whyNotRemoved(errno);
        return false;
    }
    bool removed = false;
    if (FreeNames::renameNoReplace(folderFd_, name_, holdFd, name_) != 0) {
        // Its owner removed it meanwhile: it has left the inbox all the same.
        removed = errno == ENOENT;
        if (!removed)
            notRemovedWhy_ = errno == EEXIST ? QStringLiteral("a file of its name is in %1 in the inbox").arg(kRemoving)
                                             : whyNotRemoved(errno);
    } else {
        struct stat moved, open;
        // The rename itself gives the file a new change time.
        const bool same = ::fstatat(holdFd, name_.constData(), &moved, AT_SYMLINK_NOFOLLOW) == 0 &&
                          ::fstat(fd_, &open) == 0 && sameState(moved, open) && sameState(open, start_, false) &&
                          !(leased_ && ::fcntl(fd_, F_GETLEASE) != F_RDLCK);
        removed = same && ::unlinkat(holdFd, name_.constData(), 0) == 0;
        if (same && !removed)
            notRemovedWhy_ = whyNotRemoved(errno);
        if (!removed)
            FreeNames::renameNoReplace(holdFd, name_, folderFd_, name_);
    }
    ::close(holdFd);
    ::unlinkat(folderFd_, holdName.constData(), AT_REMOVEDIR); // only when empty
    OwnFolderChanges::note(folderFd_);
    return removed;
}

void LeasedSource::restoreInterruptedRemovals(const QString& inbox)
{
    const int inboxFd = Folders::openFolder(FileName::encode(inbox));
    const Closer closeInbox{inboxFd};
    QByteArray holdName;
    const int holdFd = inboxFd < 0 ? -1 : Folders::ownHiddenFolder(inboxFd, kRemoving, false, &holdName);
    if (holdFd < 0)
        return;
    forEachName(holdFd, [&](const QByteArray& name) { FreeNames::renameNoReplace(holdFd, name, inboxFd, name); });
    ::close(holdFd);
    ::unlinkat(inboxFd, holdName.constData(), AT_REMOVEDIR);
}
