#include "engine/FileCopy.h"

#include "engine/SystemCalls.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Between two chunks the lease and the source's state are looked at again.
constexpr size_t kChunk = size_t(8) << 20;
constexpr qsizetype kBuffer = qsizetype(1) << 20;

// Starts writing the chunk just copied, [start, end), to disk and waits for
// the chunks before it, from `written`: the copy then keeps pace with the
// disk, so its progress shows what reached the disk, the final flush is short
// and an abandoned copy ends at once. Failures show in the final flush.
void writeBehind(int fd, off_t& written, off_t start, off_t end)
{
    ::sync_file_range(fd, start, end - start, SYNC_FILE_RANGE_WRITE);
    if (start > written)
        ::sync_file_range(fd, written, start - written,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    written = start;
}

} // namespace

namespace FileCopy {

bool writeAll(int fd, const char* data, qsizetype size, off_t at)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size_t(size), at);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written, size -= written, at += written;
    }
    return true;
}

bool sameContent(int fd, off_t size, int otherFd, const Progress& progress)
{
    QByteArray mine(kBuffer, Qt::Uninitialized), theirs(kBuffer, Qt::Uninitialized);
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd, mine.data(), size_t(kBuffer), at);
        const ssize_t other = ::pread(otherFd, theirs.data(), size_t(kBuffer), at);
        if (got < 0 || got != other || std::memcmp(mine.constData(), theirs.constData(), size_t(got)) != 0)
            return false;
        if (got == 0)
            return at == size;
        at += got;
        if (progress && !progress(at, size))
            return false;
    }
}

bool copyInto(int fromFd, off_t size, int toFd, const Progress& progress, const QString& folder,
              const std::function<bool()>& changed)
{
    bool inKernel = true;
    QByteArray buffer;
    off_t written = 0;
    for (off_t done = 0;;) {
        if (changed())
            return false;
        // A hole of a sparse file stays a hole, as cp keeps it: the copy is
        // only made longer across it.
        off_t data = ::lseek(fromFd, done, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            data = size;
        if (data > done) {
            done = qMin<off_t>(data, size);
            if (::ftruncate(toFd, done) != 0)
                blame(folder);
            continue;
        }
        const off_t hole = data == done ? ::lseek(fromFd, done, SEEK_HOLE) : -1;
        const size_t length = hole > done ? size_t(qMin<off_t>(hole - done, off_t(kChunk))) : kChunk;
        ssize_t copied;
        if (inKernel) {
            off_t from = done, to = done;
            copied = ::copy_file_range(fromFd, &from, toFd, &to, length, 0);
            if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                inKernel = false;
                continue;
            }
        } else {
            buffer.resize(kBuffer);
            copied = ::pread(fromFd, buffer.data(), qMin(size_t(buffer.size()), length), done);
            if (copied > 0 && !writeAll(toFd, buffer.constData(), copied, done))
                blame(folder);
        }
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied < 0 && inKernel)
            blame(folder);
        if (copied < 0)
            throwErrno();
        if (copied == 0)
            return done == size;
        writeBehind(toFd, written, done, done + copied);
        done += copied;
        if (progress && !progress(qint64(done), qint64(size)))
            return false;
    }
}

void keepPermissionsAndTimes(int fd, const struct stat& like)
{
    if (::fchown(fd, like.st_uid, like.st_gid) != 0 && ::fchown(fd, uid_t(-1), like.st_gid) != 0) {
        // another account's file: the copy stays this user's
    }
    ::fchmod(fd, like.st_mode & 0777);
    const struct timespec times[2] = {like.st_atim, like.st_mtim};
    ::futimens(fd, times);
}

} // namespace FileCopy
