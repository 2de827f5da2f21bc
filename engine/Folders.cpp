#include "engine/Folders.h"

#include "engine/FileName.h"
#include "engine/SystemCalls.h"
#include "engine/commonold.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace Folders {

int openFolder(const QByteArray& path)
{
    return ::open(path.isEmpty() ? "." : path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int openSubfolder(int parentFd, const char* name, bool create)
{
    if (create && ::mkdirat(parentFd, name, 0700) != 0 && errno != EEXIST)
        return -1;
    return ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int ownHiddenFolder(int parentFd, const char* base, bool create, QByteArray* used)
{
    const QByteArray names[] = {base, QByteArray(base) + '-' + QByteArray::number(::geteuid())};
    bool taken = false;
    int err = ENOENT;
    for (const QByteArray& name : names) {
        const int fd = openSubfolder(parentFd, name.constData(), create);
        err = errno;
        struct stat info;
        if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() &&
            ((info.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0)) {
            if (used)
                *used = name;
            return fd;
        }
        if (fd >= 0)
            ::close(fd);
        taken = taken || fd >= 0 || ::fstatat(parentFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    }
    errno = taken ? EPERM : err;
    return -1;
}

bool isWithin(int folderFd, const struct stat& root)
{
    int fd = ::openat(folderFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    bool within = false;
    struct stat info, above;
    for (int depth = 0; fd >= 0 && depth < PATH_MAX / 2 && ::fstat(fd, &info) == 0; ++depth) {
        within = info.st_dev == root.st_dev && info.st_ino == root.st_ino;
        const int parent = within ? -1 : ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        if (fd >= 0 && ::fstat(fd, &above) == 0 && above.st_dev == info.st_dev && above.st_ino == info.st_ino) {
            ::close(fd); // "/" is its own parent
            fd = -1;
        }
    }
    if (fd >= 0)
        ::close(fd);
    return within;
}

void createFolderIfMissing(const QString& path)
{
    bool exists = false;
    try {
        exists = commonold::IsFolderValid(path);
    } catch (const FilingError& error) { // a folder above it cannot be searched
        blame(path, error.lastDllError());
    }
    if (!exists)
        createFolder(path);
}

void createFolder(const QString& path)
{
    QByteArray folder = FileName::encode(path);
    while (folder.endsWith('/'))
        folder.chop(1);
    const QByteArray parent = folder.left(folder.lastIndexOf('/') + 1);
    if (::mkdir(FileName::encode(path).constData(), 0777) != 0) {
        // Something of that name in the way is the fault of that path; any
        // other refusal is the folder's that should hold it.
        const int err = errno;
        blame(err == EEXIST || err == ENOTDIR ? path : FileName::decode(parent), err);
    }
    const int parentFd = openFolder(parent);
    if (parentFd >= 0) {
        ::fsync(parentFd);
        ::close(parentFd);
    }
}

} // namespace Folders
