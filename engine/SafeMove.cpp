#include "engine/SafeMove.h"

#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/FolderEntries.h"
#include "engine/OwnFolderChanges.h"
#include "engine/SafeFolder.h"
#include "engine/commonold.h"
#include "engine/commonold_unix.h"

#include <QList>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Between two chunks the lease and the source's state are looked at again.
constexpr size_t kChunk = size_t(8) << 20;
constexpr qsizetype kBuffer = qsizetype(1) << 20;
constexpr int kMostNumbers = 10000;
// The window's look at a file holds a lease for two system calls; an open that
// meets it is tried again this many times, a millisecond apart.
constexpr int kLeaseTries = 50;
// The hidden folders of the partial copies (in the outbox and errors roots) and
// of inbox files being removed; the partial copies are named "<pid>-<random>".
constexpr const char* kPartial = ".tovrel-partial";
constexpr const char* kRemoving = ".tovrel-removing";

[[noreturn]] void throwErrno(int err = errno)
{
    throw FilingError::fromErrno(err);
}

// A failure to create or write something in `folder`: the destination's fault
// unless the file system refused the name (see FilingError::atDestination).
[[noreturn]] void blame(const QString& folder, int err = errno)
{
    throw FilingError::atDestination(err, folder);
}

// Closes a descriptor on every way out of a scope.
struct Closer {
    int fd;
    ~Closer()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

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

// The program's hidden folder `base` in the folder open as `parentFd`, made
// when missing and `create` is set. It is used only when it is this account's,
// and made private when it is not: in a folder another account may write in,
// a file could be swapped for a link just before it is renamed into place or
// removed. When another account has taken the name, "<base>-<uid>" serves
// instead. -1 when neither can be had, errno EPERM when both are another's.
int ownHiddenFolder(int parentFd, const char* base, bool create, QByteArray* used = nullptr)
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

// Calls `take` with each name in the folder but "." and "..".
template <typename Take> void forEachName(int folderFd, Take take)
{
    forEachEntry(folderFd, [&](const dirent* entry) { take(QByteArray(entry->d_name)); });
}

// Refuses to replace a file of the target name, also on a file system whose
// rename cannot be told to: a new hard link refuses a taken name just as well.
// Where there are no hard links either (FAT and exFAT through FUSE), the name
// is taken by an empty file of this program's own, which only then is
// renamed over. EINVAL from the rename is ambiguous (no such rename here, or
// a name the file system refuses); the link or the empty file tells which:
// -1 with errno EINVAL means the name is refused.
int renameNoReplace(int fromFd, const QByteArray& from, int toFd, const QByteArray& to)
{
    if (::renameat2(fromFd, from.constData(), toFd, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    if (::linkat(fromFd, from.constData(), toFd, to.constData(), 0) == 0) {
        ::unlinkat(fromFd, from.constData(), 0);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
        return -1;
    const int held = ::openat(toFd, to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (held < 0)
        return -1;
    struct stat mine, there;
    const bool renamed = ::fstat(held, &mine) == 0 && ::renameat(fromFd, from.constData(), toFd, to.constData()) == 0;
    const int err = errno;
    // The empty file goes again only while it is still the one made here.
    if (!renamed && ::fstatat(toFd, to.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 && there.st_dev == mine.st_dev &&
        there.st_ino == mine.st_ino)
        ::unlinkat(toFd, to.constData(), 0);
    ::close(held);
    errno = err;
    return renamed ? 0 : -1;
}

// True when the folder open as `folderFd` is the folder `root` or lies inside
// it, however it was reached: its parents are followed up to "/".
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

// "name.mp3" for 1, then "name (2).mp3", "name (3).mp3", ... A name that the
// number would make too long for the file system loses the end of its stem,
// cut before a UTF-8 character.
QByteArray numbered(const QByteArray& name, int number)
{
    if (number == 1)
        return name;
    const QByteArray mark = " (" + QByteArray::number(number) + ')';
    const qsizetype dot = name.lastIndexOf('.');
    QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray extension = dot > 0 ? name.mid(dot) : QByteArray();
    qsizetype keep = qMax<qsizetype>(0, qMin(stem.size(), NAME_MAX - mark.size() - extension.size()));
    while (keep > 0 && keep < stem.size() && (uchar(stem.at(keep)) & 0xC0) == 0x80)
        --keep;
    stem.truncate(keep);
    return stem + mark + extension;
}

bool sameState(const struct stat& a, const struct stat& b, bool changeTimeToo = true)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           (!changeTimeToo || (a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec));
}

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

// A partial copy: in the hidden folder of the root when that is on the
// destination's file system, else in the destination folder itself, as
// ".tovrel-partial-<pid>-<random>". Such a copy is first noted in the root's
// hidden folder ("<pid>-<random>.in", holding the folder's path under the
// root), so that what a killed run left there is found at the next start.
struct Temporary {
    int folderFd = -1;
    bool ownsFolder = false;
    int notesFd = -1; // the root's hidden folder, when the copy is not in it
    QByteArray note;
    QByteArray name;
    int fd = -1;

    // `folder` is the destination folder, named when the copy cannot be made.
    Temporary(const QString& root, int destinationFd, bool inDestination, const QString& folder)
    {
        struct stat rootInfo, destination;
        const int rootFd = openFolder(FileName::encode(root));
        const int partialFd = rootFd < 0 ? -1 : ownHiddenFolder(rootFd, kPartial, true);
        const int partialErr = errno;
        if (rootFd >= 0)
            ::close(rootFd);
        if (partialFd < 0 && rootFd >= 0 && partialErr == EPERM)
            throw FilingError::refusedFolder(root + QLatin1String(kPartial) + QLatin1Char('/'),
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
            name = ownsFolder ? id : QByteArray(kPartial) + '-' + id;
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
    ~Temporary()
    {
        discard();
        closeFolder();
    }
    // The note is on disk before the copy it tells of is begun.
    bool writeNote(const QByteArray& noteName, const QByteArray& under)
    {
        const int noteFd =
            ::openat(notesFd, noteName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (noteFd < 0)
            return false;
        note = noteName;
        const bool written = writeAll(noteFd, under.constData(), under.size(), 0) && ::fsync(noteFd) == 0;
        const int err = errno;
        ::close(noteFd);
        ::fsync(notesFd);
        if (!written)
            dropNote();
        errno = err;
        return written;
    }
    void dropNote()
    {
        if (!note.isEmpty())
            ::unlinkat(notesFd, note.constData(), 0);
        note.clear();
    }
    // Flushes and closes the copy; false with errno set on failure.
    bool finish()
    {
        const bool flushed = ::fsync(fd) == 0;
        const int err = errno;
        const bool closed = ::close(fd) == 0;
        fd = -1;
        errno = flushed ? errno : err;
        return flushed && closed;
    }
    void placed()
    {
        name.clear();
        dropNote();
    }
    void discard()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (!name.isEmpty())
            ::unlinkat(folderFd, name.constData(), 0);
        name.clear();
        dropNote();
    }
    void closeFolder()
    {
        if (ownsFolder)
            ::close(folderFd);
        if (notesFd >= 0)
            ::close(notesFd);
        ownsFolder = false;
        notesFd = -1;
    }
};

} // namespace

SafeMove::SafeMove(const QString& source)
    : SafeMove(source.left(source.lastIndexOf(QLatin1Char('/')) + 1),
               source.mid(source.lastIndexOf(QLatin1Char('/')) + 1))
{
}

SafeMove::SafeMove(const QString& folder, const QString& below)
{
    const QByteArray path = FileName::encode(below);
    const qsizetype slash = path.lastIndexOf('/');
    name_ = path.mid(slash + 1);
    folderFd_ = openFolder(FileName::encode(folder));
    if (folderFd_ >= 0 && ::fstat(folderFd_, &root_) != 0)
        root_ = {};
    for (const QByteArray& level : path.left(qMax<qsizetype>(0, slash)).split('/')) {
        if (folderFd_ < 0)
            break;
        if (level.isEmpty())
            continue;
        const int sub = level == ".." ? (errno = EACCES, -1) : openSubfolder(folderFd_, level.constData(), false);
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
    ignoreLeaseBreakSignal(); // the window's own lease is broken by this open
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
        return;
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
    // While the lease is held, an open for writing anywhere breaks it, which
    // sourceChanged sees. It is refused at once when a writer already has the
    // file open, and cannot be had on another account's file or on a file
    // system without leases: the size and times are then all there is to go by.
    if (::fcntl(fd_, F_SETLEASE, F_RDLCK) == 0)
        leased_ = true;
    else if (errno == EAGAIN)
        givenUp_ = true;
}

struct stat SafeMove::filedAs() const
{
    struct stat info = start_;
    info.st_mode &= ~mode_t(0777) | reach_;
    return info;
}

void SafeMove::replaceContent(const QByteArray& bytes)
{
    const int fd = ::memfd_create("tovrel-content", MFD_CLOEXEC);
    if (fd < 0 || !writeAll(fd, bytes.constData(), bytes.size(), 0)) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        throwErrno(err);
    }
    if (contentFd_ >= 0)
        ::close(contentFd_);
    contentFd_ = fd;
    contentSize_ = bytes.size();
}

SafeMove::~SafeMove()
{
    if (contentFd_ >= 0)
        ::close(contentFd_);
    ::close(fd_); // ends the lease
    ::close(folderFd_);
}

bool SafeMove::sourceChanged() const
{
    if (givenUp_ || (leased_ && ::fcntl(fd_, F_GETLEASE) != F_RDLCK))
        return true;
    struct stat now;
    return ::fstat(fd_, &now) != 0 || !sameState(now, start_);
}

// The copy is abandoned: a writer waiting for the lease may go on at once.
void SafeMove::giveUp()
{
    givenUp_ = true;
    if (leased_)
        ::fcntl(fd_, F_SETLEASE, F_UNLCK);
    leased_ = false;
}

MoveResult SafeMove::moveTo(const Destination& to, const Progress& progress)
{
    if (sourceChanged()) {
        giveUp();
        return {};
    }
    keepSource_ = to.keepSource;
    const int destinationFd = SafeFolder::open(to.root, to.folder);
    const Closer closeDestination{destinationFd};
    const QByteArray wanted = FileName::encode(to.name);
    const QByteArray companion = FileName::encode(to.companion);
    // A file filed inside the folder it is taken from (the inbox inside the
    // outbox, a link back into it) would be taken from there again.
    if (root_.st_ino != 0 && isWithin(destinationFd, root_))
        throw FilingError::refusedFolder(to.folder, QStringLiteral("Folder inside the one the file is taken from"));
    // Names taken by other files are passed over before anything is copied.
    int number = 1;
    try {
        for (Slot slot; (slot = slotAt(destinationFd, numbered(wanted, number), companion, progress)) != Slot::Free;
             ++number) {
            if (slot == Slot::Same)
                return placed(MoveResult::Outcome::Duplicate, numbered(wanted, number), to.folder);
            if (number >= kMostNumbers)
                throwErrno(EEXIST);
        }
        // A free number is not enough: the same song may stand under a later one, past a gap.
        if (number > 1) {
            if (const QByteArray same = numberedCopy(destinationFd, wanted, progress); !same.isEmpty())
                return placed(MoveResult::Outcome::Duplicate, same, to.folder);
        }
    } catch (const FilingError& error) { // the destination folder cannot be looked at, or is full of the name
        blame(to.folder, error.lastDllError());
    }
    for (const bool inDestination : {false, true}) {
        Temporary copy(to.root, destinationFd, inDestination, to.folder);
        if (!copyInto(copy.fd, progress, to.folder) || !stillTheSameFile()) {
            giveUp();
            return {};
        }
        keepPermissionsAndTimes(copy.fd);
        struct stat copied;
        if (::fstat(copy.fd, &copied) != 0 || !copy.finish())
            blame(to.folder);
        // A name may be taken between the look above and the rename: the rename refuses it and the next is tried.
        for (; number <= kMostNumbers; ++number) {
            const QByteArray name = numbered(wanted, number);
            if (!companion.isEmpty() && slotAt(destinationFd, name, companion) != Slot::Free)
                continue;
            if (renameNoReplace(copy.folderFd, copy.name, destinationFd, name) == 0) {
                copy.placed();
                ::fsync(destinationFd);
                // A copy written beside its destination, in a folder others may
                // write in, could have been swapped before the rename: the source
                // then stays.
                struct stat landed;
                if (::fstatat(destinationFd, name.constData(), &landed, AT_SYMLINK_NOFOLLOW) != 0 ||
                    landed.st_dev != copied.st_dev || landed.st_ino != copied.st_ino)
                    throw FilingError::refusedFolder(to.folder, QStringLiteral("Copy replaced by another account"));
                return placed(MoveResult::Outcome::Filed, name, to.folder, number > 1);
            }
            if (errno == EXDEV && !inDestination)
                break; // the folders are different file systems after all: copy again, into the destination
            if (errno != EEXIST)
                blame(to.folder);
            if (slotAt(destinationFd, name, {}) == Slot::Same)
                return placed(MoveResult::Outcome::Duplicate, name, to.folder);
        }
        if (number > kMostNumbers)
            blame(to.folder, EEXIST);
    }
    blame(to.folder, EXDEV);
}

MoveResult SafeMove::placed(MoveResult::Outcome outcome, const QByteArray& name, const QString& folder, bool numbered)
{
    const bool removed = !keepSource_ && removeSource();
    return {outcome, FileName::decode(name), removed, folder, notRemovedWhy_, numbered};
}

// The first of "name (2).mp3", "name (3).mp3", ... in the folder that holds
// exactly the source's bytes; empty when none does. Names are compared byte
// for byte with the numbered names of `wanted`.
QByteArray SafeMove::numberedCopy(int folderFd, const QByteArray& wanted, const Progress& progress) const
{
    QByteArray same;
    int lowest = kMostNumbers + 1;
    forEachName(folderFd, [&](const QByteArray& name) {
        const qsizetype open = name.lastIndexOf(" (");
        const qsizetype close = open < 0 ? -1 : name.indexOf(')', open);
        bool isNumber = false;
        const int number = close < 0 ? 0 : name.mid(open + 2, close - open - 2).toInt(&isNumber);
        if (!isNumber || number < 2 || number >= lowest || numbered(wanted, number) != name)
            return;
        try {
            if (slotAt(folderFd, name, {}, progress) == Slot::Same) {
                same = name;
                lowest = number;
            }
        } catch (const FilingError&) { // one that cannot be looked at is not the same
        }
    });
    return same;
}

SafeMove::Slot SafeMove::slotAt(int folderFd, const QByteArray& name, const QByteArray& companion,
                                const Progress& progress) const
{
    struct stat info;
    if (::fstatat(folderFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            throwErrno();
        const QByteArray other = FileName::withEnding(name, companion);
        return companion.isEmpty() || ::fstatat(folderFd, other.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0
                   ? Slot::Free
                   : Slot::Other;
    }
    // The very file being filed (another name of it) is not its own duplicate.
    const bool itself = info.st_dev == start_.st_dev && info.st_ino == start_.st_ino;
    if (itself || !S_ISREG(info.st_mode) || info.st_size != contentSize())
        return Slot::Other;
    const int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return Slot::Other;
    const Closer closeFile{fd};
    return sameContent(fd, progress) ? Slot::Same : Slot::Other;
}

// Compares chunk by chunk, reporting through the copy's hook, so a close
// during the comparison of a large file is heeded as during a copy: an
// abandoned comparison answers "not the same" and the copy that follows
// stops at its first chunk.
bool SafeMove::sameContent(int otherFd, const Progress& progress) const
{
    QByteArray mine(kBuffer, Qt::Uninitialized), theirs(kBuffer, Qt::Uninitialized);
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(content(), mine.data(), size_t(kBuffer), at);
        const ssize_t other = ::pread(otherFd, theirs.data(), size_t(kBuffer), at);
        if (got < 0 || got != other || std::memcmp(mine.constData(), theirs.constData(), size_t(got)) != 0)
            return false;
        if (got == 0)
            return at == contentSize();
        at += got;
        if (progress && !progress(at, contentSize()))
            return false;
    }
}

// Copies chunk by chunk, in the kernel where the file systems allow it. False
// when the copy is abandoned; a failure of the destination is thrown, blaming
// `folder`. An error of the kernel copy cannot tell which side failed; it is
// taken as the destination's, so the file waits rather than being blamed.
bool SafeMove::copyInto(int toFd, const Progress& progress, const QString& folder) const
{
    bool inKernel = true;
    QByteArray buffer;
    off_t written = 0;
    for (off_t done = 0;;) {
        if (sourceChanged())
            return false;
        // A hole of a sparse file stays a hole, as cp keeps it: the copy is
        // only made longer across it.
        off_t data = ::lseek(content(), done, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            data = contentSize();
        if (data > done) {
            done = qMin<off_t>(data, contentSize());
            if (::ftruncate(toFd, done) != 0)
                blame(folder);
            continue;
        }
        const off_t hole = data == done ? ::lseek(content(), done, SEEK_HOLE) : -1;
        const size_t length = hole > done ? size_t(qMin<off_t>(hole - done, off_t(kChunk))) : kChunk;
        ssize_t copied;
        if (inKernel) {
            off_t from = done, to = done;
            copied = ::copy_file_range(content(), &from, toFd, &to, length, 0);
            if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                inKernel = false;
                continue;
            }
        } else {
            buffer.resize(kBuffer);
            copied = ::pread(content(), buffer.data(), qMin(size_t(buffer.size()), length), done);
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
            return done == contentSize();
        writeBehind(toFd, written, done, done + copied);
        done += copied;
        if (progress && !progress(qint64(done), qint64(contentSize())))
            return false;
    }
}

// Every byte arrived from a source that is still the same file, under its name.
bool SafeMove::stillTheSameFile() const
{
    struct stat now;
    return !sourceChanged() && ::fstatat(folderFd_, name_.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           sameState(now, start_);
}

// As a move would: the source's permission bits and times, and its owner where
// this user may give it. A file system that keeps none of them is no failure.
void SafeMove::keepPermissionsAndTimes(int fd) const
{
    if (::fchown(fd, start_.st_uid, start_.st_gid) != 0 && ::fchown(fd, uid_t(-1), start_.st_gid) != 0) {
        // another account's file: the copy stays this user's
    }
    ::fchmod(fd, filedAs().st_mode & 0777);
    const struct timespec times[2] = {start_.st_atim, start_.st_mtim};
    ::futimens(fd, times);
}

// The cause of a refused removal, for the user: an immutable or append-only
// file (which only root can change back) is told apart from a plain refusal.
QString SafeMove::whyNotRemoved(int err) const
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
bool SafeMove::removeSource()
{
    if (sourceChanged())
        return false;
    QByteArray holdName;
    const int holdFd = ownHiddenFolder(folderFd_, kRemoving, true, &holdName);
    if (holdFd < 0) {
        notRemovedWhy_ = errno == ENOTDIR || errno == ELOOP || errno == EPERM
                             ? QStringLiteral("%1 in the inbox is in the way").arg(kRemoving)
                             : whyNotRemoved(errno);
        return false;
    }
    bool removed = false;
    if (renameNoReplace(folderFd_, name_, holdFd, name_) != 0) {
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
            renameNoReplace(holdFd, name_, folderFd_, name_);
    }
    ::close(holdFd);
    ::unlinkat(folderFd_, holdName.constData(), AT_REMOVEDIR); // only when empty
    OwnFolderChanges::note(folderFd_);
    return removed;
}

void SafeMove::writeNewFile(const QString& root, const QString& path, const QByteArray& bytes, const struct stat* like)
{
    const QByteArray encoded = FileName::encode(path);
    const qsizetype slash = encoded.lastIndexOf('/');
    const QString folder = FileName::decode(encoded.left(slash + 1));
    const int destinationFd = SafeFolder::open(root, folder);
    const Closer closeDestination{destinationFd};
    Temporary file(root, destinationFd, false, folder);
    if (like) {
        if (::fchown(file.fd, like->st_uid, like->st_gid) != 0 && ::fchown(file.fd, uid_t(-1), like->st_gid) != 0) {
            // another account's file: the log stays this user's
        }
        ::fchmod(file.fd, like->st_mode & 0666);
    }
    if (!writeAll(file.fd, bytes.constData(), bytes.size(), 0) || !file.finish() ||
        renameNoReplace(file.folderFd, file.name, destinationFd, encoded.mid(slash + 1)) != 0)
        blame(folder);
    file.placed();
    ::fsync(destinationFd);
}

void SafeMove::createFolderIfMissing(const QString& path)
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

void SafeMove::createFolder(const QString& path)
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

namespace {

// A partial copy named "<pid>-<random>" by a process that has ended (this
// one, and another run still at work, are alive).
bool isLeftover(const QByteArray& name)
{
    const qsizetype dash = name.indexOf('-');
    bool isNumber = false;
    const qint64 pid = name.left(dash).toLongLong(&isNumber);
    if (dash <= 0 || !isNumber || pid <= 0 || dash + 1 == name.size())
        return false;
    for (const char c : name.mid(dash + 1)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

void SafeMove::removeLeftovers(const QString& root)
{
    const int rootFd = openFolder(FileName::encode(root));
    const Closer closeRoot{rootFd};
    const int partialFd = rootFd < 0 ? -1 : ownHiddenFolder(rootFd, kPartial, false);
    if (partialFd < 0)
        return;
    const Closer closePartial{partialFd};
    forEachName(partialFd, [&](const QByteArray& name) {
        struct stat info;
        if (::fstatat(partialFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            return;
        if (isLeftover(name))
            ::unlinkat(partialFd, name.constData(), 0);
        else if (name.endsWith(".in") && isLeftover(name.chopped(3)))
            removeNotedCopy(root, partialFd, name);
    });
}

// The copy a note names, in the folder it names under the root, reached as
// every destination is (no other account's link followed). A folder that
// cannot be reached now (a disk not mounted) keeps its note for a later start.
void SafeMove::removeNotedCopy(const QString& root, int notesFd, const QByteArray& note)
{
    const int noteFd = ::openat(notesFd, note.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (noteFd < 0)
        return;
    QByteArray under(PATH_MAX, Qt::Uninitialized);
    const ssize_t length = ::read(noteFd, under.data(), size_t(under.size()));
    ::close(noteFd);
    if (length < 0)
        return;
    under.truncate(length);
    try {
        const int folderFd = SafeFolder::open(root, root + FileName::decode(under));
        const Closer closeFolder{folderFd};
        const QByteArray copy = QByteArray(kPartial) + '-' + note.chopped(3);
        struct stat info;
        if (::fstatat(folderFd, copy.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            ::unlinkat(folderFd, copy.constData(), 0);
    } catch (const FilingError&) {
        return;
    }
    ::unlinkat(notesFd, note.constData(), 0);
}

void SafeMove::restoreInterruptedRemovals(const QString& inbox)
{
    const int inboxFd = openFolder(FileName::encode(inbox));
    const Closer closeInbox{inboxFd};
    QByteArray holdName;
    const int holdFd = inboxFd < 0 ? -1 : ownHiddenFolder(inboxFd, kRemoving, false, &holdName);
    if (holdFd < 0)
        return;
    forEachName(holdFd, [&](const QByteArray& name) { renameNoReplace(holdFd, name, inboxFd, name); });
    ::close(holdFd);
    ::unlinkat(inboxFd, holdName.constData(), AT_REMOVEDIR);
}
