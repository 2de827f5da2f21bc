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

// A copy looks at its progress hook after each step.
constexpr size_t kStep = size_t(8) << 20;
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

// Copies at most `length` bytes: in the kernel where the file systems allow
// it, else through `buffer`. Answers the bytes copied, 0 at the end, -1 with
// errno set on failure.
ssize_t copyStep(int from, int to, size_t length, bool& inKernel, QByteArray& buffer)
{
    while (inKernel) {
        const ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, length, 0);
        if (copied >= 0)
            return copied;
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            inKernel = false;
        else if (errno != EINTR)
            return -1;
    }
    if (buffer.isEmpty())
        buffer.resize(kBuffer);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), qMin(length, size_t(buffer.size())));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got;
        return writeAll(to, QByteArrayView(buffer.constData(), got)) ? got : -1;
    }
}

// Starts writing the step just copied, [start, end), to disk and waits for
// the steps before it, from `written`: the copy then keeps pace with the disk,
// so its progress shows what reached the disk, the final flush is short and an
// abandoned copy ends at once. Failures show in the final flush.
void writeBehind(int fd, off_t& written, off_t start, off_t end)
{
    ::sync_file_range(fd, start, end - start, SYNC_FILE_RANGE_WRITE);
    if (start > written)
        ::sync_file_range(fd, written, start - written,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    written = start;
}

// Copies everything `from` still holds to `to` in steps, asking `progress`
// before each whether to go on. False with errno set on failure; throws
// SafeMove::Abandoned when `progress` says stop.
bool copyContent(int from, int to, qint64 total, const SafeMove::Progress& progress)
{
    bool inKernel = true;
    QByteArray buffer;
    off_t done = 0;
    off_t written = 0;
    for (;;) {
        if (progress && !progress(done, total))
            throw SafeMove::Abandoned();
        const ssize_t copied = copyStep(from, to, kStep, inKernel, buffer);
        if (copied <= 0)
            return copied == 0;
        writeBehind(to, written, done, done + copied);
        done += copied;
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
// and renames it to `destination`. The temporary file is removed on failure
// and when `fill` throws.
template <typename Fill> void replaceWhole(const QString& destination, Fill fill)
{
    const QString folder = folderOf(destination);
    QByteArray temporary;
    const int fd = createTemporary(folder, temporary);
    if (fd < 0)
        throwErrno();
    bool ok = false;
    try {
        ok = fill(fd) && ::fsync(fd) == 0;
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.constData());
        throw;
    }
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
    throw FilingError::fromErrno(err);
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

void SafeMove::copyTo(const QString& destination, const Progress& progress)
{
    if (::lseek(sourceFd_, 0, SEEK_SET) < 0)
        throwErrno();
    replaceWhole(destination, [&](int fd) { return copyContent(sourceFd_, fd, size_, progress); });
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

bool SafeMove::move(const QString& source, const QString& destination, const Progress& progress)
{
    SafeMove move(source);
    move.copyTo(destination, progress);
    return move.removeSourceIfUnchanged();
}

void SafeMove::writeFile(const QString& path, const QByteArray& bytes)
{
    replaceWhole(path, [&bytes](int fd) { return writeAll(fd, bytes); });
}

void SafeMove::createFolderIfMissing(const QString& path)
{
    if (!commonold::IsFolderValid(path))
        createFolder(path);
}

void SafeMove::createFolder(const QString& path)
{
    if (::mkdir(encoded(path).constData(), 0777) != 0)
        throwErrno();
    QString parent = path;
    while (parent.endsWith(QLatin1Char('/')))
        parent.chop(1);
    flushFolder(folderOf(parent));
}
