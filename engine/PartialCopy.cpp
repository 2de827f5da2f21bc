#include "engine/PartialCopy.h"

#include "engine/FileCopy.h"
#include "engine/FileName.h"
#include "engine/Folders.h"
#include "engine/FreeNames.h"
#include "engine/SafeFolder.h"
#include "engine/SystemCalls.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

PartialCopy::PartialCopy(const QString& root, int destinationFd, bool inDestination, const QString& folder)
{
    struct stat rootInfo, destination;
    const int rootFd = Folders::openFolder(FileName::encode(root));
    const int partialFd = rootFd < 0 ? -1 : Folders::ownHiddenFolder(rootFd, kFolder, true);
    const int partialErr = errno;
    if (rootFd >= 0)
        ::close(rootFd);
    if (partialFd < 0 && rootFd >= 0 && partialErr == EPERM)
        throw FilingError::refusedFolder(root + QLatin1String(kFolder) + QLatin1Char('/'),
                                         QStringLiteral("Folder of another account"));
    if (!inDestination && partialFd >= 0 && ::fstat(partialFd, &rootInfo) == 0 &&
        ::fstat(destinationFd, &destination) == 0 && rootInfo.st_dev == destination.st_dev) {
        folderFd = partialFd;
        ownsFolder = true;
    } else {
        folderFd = destinationFd;
        notesFd = partialFd;
    }
    const QByteArray under = FileName::encode(folder).mid(FileName::encode(root).size());
    int err = 0;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        const QByteArray id =
            QByteArray::number(::getpid()) + '-' + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        name = ownsFolder ? id : QByteArray(kFolder) + '-' + id;
        if (notesFd >= 0 && !writeNote(id + ".in", under)) {
            err = errno;
            break;
        }
        fd = ::openat(folderFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        err = errno;
        if (fd < 0)
            dropNote();
        if (fd < 0 && err != EEXIST)
            break;
    }
    if (fd < 0) {
        name.clear();
        closeFolder();
        blame(folder, err);
    }
}

PartialCopy::~PartialCopy()
{
    discard();
    closeFolder();
}

bool PartialCopy::writeNote(const QByteArray& noteName, const QByteArray& under)
{
    const int noteFd =
        ::openat(notesFd, noteName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (noteFd < 0)
        return false;
    note = noteName;
    const bool written = FileCopy::writeAll(noteFd, under.constData(), under.size(), 0) && ::fsync(noteFd) == 0;
    const int err = errno;
    ::close(noteFd);
    ::fsync(notesFd);
    if (!written)
        dropNote();
    errno = err;
    return written;
}

void PartialCopy::dropNote()
{
    if (!note.isEmpty())
        ::unlinkat(notesFd, note.constData(), 0);
    note.clear();
}

bool PartialCopy::finish()
{
    const bool flushed = ::fsync(fd) == 0;
    const int err = errno;
    const bool closed = ::close(fd) == 0;
    fd = -1;
    errno = flushed ? errno : err;
    return flushed && closed;
}

void PartialCopy::placed()
{
    name.clear();
    dropNote();
}

void PartialCopy::discard()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    if (!name.isEmpty())
        ::unlinkat(folderFd, name.constData(), 0);
    name.clear();
    dropNote();
}

void PartialCopy::closeFolder()
{
    if (ownsFolder)
        ::close(folderFd);
    if (notesFd >= 0)
        ::close(notesFd);
    ownsFolder = false;
    notesFd = -1;
}

void PartialCopy::writeNewFile(const QString& root, const QString& path, const QByteArray& bytes,
                               const struct stat* like)
{
    const QByteArray encoded = FileName::encode(path);
    const qsizetype slash = encoded.lastIndexOf('/');
    const QString folder = FileName::decode(encoded.left(slash + 1));
    const int destinationFd = SafeFolder::open(root, folder);
    const Closer closeDestination{destinationFd};
    PartialCopy file(root, destinationFd, false, folder);
    if (like) {
        if (::fchown(file.fd, like->st_uid, like->st_gid) != 0 && ::fchown(file.fd, uid_t(-1), like->st_gid) != 0) {
            // another account's file: the log stays this user's
        }
        ::fchmod(file.fd, like->st_mode & 0666);
    }
    if (!FileCopy::writeAll(file.fd, bytes.constData(), bytes.size(), 0) || !file.finish() ||
        FreeNames::renameNoReplace(file.folderFd, file.name, destinationFd, encoded.mid(slash + 1)) != 0)
        blame(folder);
    file.placed();
    ::fsync(destinationFd);
}
