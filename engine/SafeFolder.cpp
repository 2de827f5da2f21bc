#include "engine/SafeFolder.h"

#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/FolderEntries.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// A link of this account's is read and its target opened as the link says;
// the link itself is held open meanwhile, so it cannot be swapped for another
// between the look at its owner and the reading of its target.
int openOwnLink(int parentFd, const QByteArray& name)
{
    const int linkFd = ::openat(parentFd, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (linkFd < 0)
        return -1;
    struct stat info;
    char target[PATH_MAX + 1];
    ssize_t length = -1;
    int err = EEXIST; // a file where a folder must be
    if (::fstat(linkFd, &info) != 0)
        err = errno;
    else if (S_ISLNK(info.st_mode) && info.st_uid != ::geteuid())
        err = ELOOP;
    else if (S_ISLNK(info.st_mode) && (length = ::readlinkat(linkFd, "", target, PATH_MAX)) < 0)
        err = errno;
    ::close(linkFd);
    if (length <= 0) {
        errno = err;
        return -1;
    }
    target[length] = '\0';
    return ::openat(parentFd, target, kFolderFlags);
}

} // namespace

int SafeFolder::openLevel(int parentFd, const QByteArray& name)
{
    const int fd = ::openat(parentFd, name.constData(), kFolderFlags | O_NOFOLLOW);
    if (fd >= 0 || (errno != ELOOP && errno != ENOTDIR))
        return fd;
    return openOwnLink(parentFd, name);
}

int SafeFolder::open(const QString& root, const QString& folder, bool create)
{
    const QByteArray rootPath = FileName::encode(root);
    const QByteArray folderPath = FileName::encode(folder);
    int fd = ::open(rootPath.isEmpty() ? "." : rootPath.constData(), kFolderFlags);
    if (fd < 0)
        throw FilingError::atDestination(errno, root);
    if (!folderPath.startsWith(rootPath)) {
        ::close(fd);
        throw FilingError::atDestination(EXDEV, folder);
    }
    QByteArray path = rootPath;
    while (path.endsWith('/'))
        path.chop(1);
    for (const QByteArray& level : folderPath.mid(rootPath.size()).split('/')) {
        if (level.isEmpty() || level == ".")
            continue;
        // A refusal to create the level is the fault of the folder that should
        // hold it; anything else, of the level itself.
        QString blamed = FileName::decode(path) + QLatin1Char('/');
        path += '/' + level;
        int err = 0;
        if (level == "..") {
            err = EACCES;
        } else if (create && ::mkdirat(fd, level.constData(), 0777) == 0) {
            ::fsync(fd);
        } else if (create && errno != EEXIST) {
            err = errno;
        }
        const int next = err ? -1 : openLevel(fd, level);
        if (!err) {
            err = errno;
            blamed = FileName::decode(path);
        }
        ::close(fd);
        if (next < 0 && err == ELOOP)
            throw FilingError::refusedFolder(blamed, QStringLiteral("Link of another account"));
        if (next < 0)
            throw FilingError::atDestination(err, blamed);
        fd = next;
    }
    return fd;
}

void SafeFolder::create(const QString& root, const QString& folder)
{
    ::close(open(root, folder, true));
}

bool SafeFolder::isPrivate(int fd)
{
    struct stat info;
    return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString SafeFolder::spellingInUse(const QString& root, const QString& folder, const QString& level)
{
    int fd = -1;
    try {
        fd = open(root, folder);
    } catch (const FilingError&) { // the creation that follows says what is wrong
        return level;
    }
    struct stat info;
    QString spelling = level;
    if (::fstatat(fd, FileName::encode(level).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        const QString folded = level.toCaseFolded();
        QStringList alike;
        forEachEntry(fd, [&](const dirent* entry) {
            const QString name = FileName::decode(entry->d_name);
            if (name.toCaseFolded() == folded)
                alike << name;
        });
        alike.sort();
        for (const QString& name : std::as_const(alike)) {
            const int sub = openLevel(fd, FileName::encode(name));
            if (sub >= 0) {
                ::close(sub);
                spelling = name;
                break;
            }
        }
    }
    ::close(fd);
    return spelling;
}
