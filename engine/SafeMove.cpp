#include "engine/SafeMove.h"

#include "engine/FilingError.h"
#include "engine/commonold.h"
#include "engine/commonold_unix.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kChunk = size_t(1) << 30;
constexpr qsizetype kBuffer = qsizetype(1) << 20;

[[noreturn]] void throwErrno()
{
    throw FilingError::fromErrno(errno);
}

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

QString folderOf(const QString& path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// A new file under a hidden, unused name in `folder`, created with the usual
// permissions (0666 less the umask), as the final file should have them.
int createTemporary(const QString& folder, QByteArray& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = encoded(folder) + ".tovrel-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        done += written;
    }
    return true;
}

// How filling a temporary file ended; on failure errno tells why.
enum class Fill { Done, SourceFailed, DestinationFailed };

// Copies everything `from` still holds to `to`: in the kernel where the file
// systems allow it, else through a large buffer. An error of the kernel copy
// cannot tell which side failed; it is taken as the destination's, so the
// file waits in the inbox rather than being blamed for it.
Fill copyContent(int from, int to)
{
    for (;;) {
        const ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, kChunk, 0);
        if (copied == 0)
            return Fill::Done;
        if (copied > 0 || errno == EINTR)
            continue;
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            break;
        return Fill::DestinationFailed;
    }
    QByteArray buffer(kBuffer, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), size_t(buffer.size()));
        if (got == 0)
            return Fill::Done;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Fill::SourceFailed;
        if (!writeAll(to, QByteArrayView(buffer.constData(), got)))
            return Fill::DestinationFailed;
    }
}

// A rename or a new folder lives in its folder; flushing that makes it
// survive a crash. Some file systems cannot flush a folder; the file itself is
// already on disk then, so that is not a failure.
void flushFolder(const QString& folder)
{
    const int fd = ::open(encoded(folder.isEmpty() ? QStringLiteral(".") : folder).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes a temporary file in the destination's folder with `fill`, flushes it
// and renames it to `destination`. The temporary file is removed on failure,
// which blames the destination folder unless reading the source failed.
template <typename Filler> void replaceWhole(const QString& destination, Filler fill)
{
    const QString folder = folderOf(destination);
    QByteArray temporary;
    const int fd = createTemporary(folder, temporary);
    if (fd < 0)
        throw FilingError::atDestination(errno, folder);
    const Fill filled = fill(fd);
    bool ok = filled == Fill::Done && ::fsync(fd) == 0;
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temporary.constData(), encoded(destination).constData()) != 0) {
        ok = false;
        err = errno;
    }
    if (ok) {
        flushFolder(folder);
        return;
    }
    ::unlink(temporary.constData());
    if (filled == Fill::SourceFailed)
        throw FilingError::fromErrno(err);
    throw FilingError::atDestination(err, folder);
}

} // namespace

SafeMove::SafeMove(const QString& source) : source_(source)
{
    struct stat info;
    sourceFd_ = openRegularFileForReading(source, &info);
    device_ = info.st_dev;
    inode_ = info.st_ino;
    size_ = info.st_size;
    modified_ = info.st_mtim;
}

SafeMove::~SafeMove()
{
    ::close(sourceFd_);
}

void SafeMove::copyTo(const QString& destination)
{
    if (::lseek(sourceFd_, 0, SEEK_SET) < 0)
        throwErrno();
    replaceWhole(destination, [this](int fd) { return copyContent(sourceFd_, fd); });
}

bool SafeMove::removeSourceIfUnchanged()
{
    struct stat info;
    if (::stat(encoded(source_).constData(), &info) != 0)
        return false;
    const bool unchanged = info.st_dev == device_ && info.st_ino == inode_ && info.st_size == size_ &&
                           info.st_mtim.tv_sec == modified_.tv_sec && info.st_mtim.tv_nsec == modified_.tv_nsec;
    if (!unchanged)
        return false;
    if (::unlink(encoded(source_).constData()) != 0)
        throwErrno();
    return true;
}

bool SafeMove::move(const QString& source, const QString& destination)
{
    SafeMove move(source);
    move.copyTo(destination);
    return move.removeSourceIfUnchanged();
}

void SafeMove::writeFile(const QString& path, const QByteArray& bytes)
{
    replaceWhole(path, [&bytes](int fd) { return writeAll(fd, bytes) ? Fill::Done : Fill::DestinationFailed; });
}

void SafeMove::createFolderIfMissing(const QString& path)
{
    bool exists = false;
    try {
        exists = commonold::IsFolderValid(path);
    } catch (const FilingError& error) { // a folder above it cannot be searched
        throw FilingError::atDestination(error.lastDllError(), path);
    }
    if (!exists)
        createFolder(path);
}

void SafeMove::createFolder(const QString& path)
{
    QString parent = path;
    while (parent.endsWith(QLatin1Char('/')))
        parent.chop(1);
    parent = folderOf(parent);
    if (::mkdir(encoded(path).constData(), 0777) != 0) {
        // Something of that name in the way is the fault of that path; any
        // other refusal is the folder's that should hold it.
        const int err = errno;
        throw FilingError::atDestination(err, err == EEXIST || err == ENOTDIR ? path : parent);
    }
    flushFolder(parent);
}
