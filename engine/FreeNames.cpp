#include "engine/FreeNames.h"

#include "engine/FileName.h"
#include "engine/SystemCalls.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

FreeNames::FreeNames(int folderFd, const struct stat& source, int contentFd, off_t contentSize)
    : folderFd_(folderFd), source_(source), contentFd_(contentFd), contentSize_(contentSize)
{
}

QByteArray FreeNames::numbered(const QByteArray& name, int number)
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

int FreeNames::renameNoReplace(int fromFd, const QByteArray& from, int toFd, const QByteArray& to)
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

QByteArray FreeNames::numberedCopy(const QByteArray& wanted, const FileCopy::Progress& progress) const
{
    QByteArray same;
    int lowest = kMostNumbers + 1;
    forEachName(folderFd_, [&](const QByteArray& name) {
        const qsizetype open = name.lastIndexOf(" (");
        const qsizetype close = open < 0 ? -1 : name.indexOf(')', open);
        bool isNumber = false;
        const int number = close < 0 ? 0 : name.mid(open + 2, close - open - 2).toInt(&isNumber);
        if (!isNumber || number < 2 || number >= lowest || numbered(wanted, number) != name)
            return;
        try {
            if (slotAt(name, {}, progress) == Slot::Same) {
                same = name;
                lowest = number;
            }
        } catch (const FilingError&) { // one that cannot be looked at is not the same
        }
    });
    return same;
}

FreeNames::Slot FreeNames::slotAt(const QByteArray& name, const QByteArray& companion,
                                  const FileCopy::Progress& progress) const
{
    struct stat info;
    if (::fstatat(folderFd_, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            throwErrno();
        const QByteArray other = FileName::withEnding(name, companion);
        return companion.isEmpty() || ::fstatat(folderFd_, other.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0
                   ? Slot::Free
                   : Slot::Other;
    }
    // The very file being filed (another name of it) is not its own duplicate.
    const bool itself = info.st_dev == source_.st_dev && info.st_ino == source_.st_ino;
    if (itself || !S_ISREG(info.st_mode) || info.st_size != contentSize_)
        return Slot::Other;
    const int fd = ::openat(folderFd_, name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return Slot::Other;
    const Closer closeFile{fd};
    return FileCopy::sameContent(contentFd_, contentSize_, fd, progress) ? Slot::Same : Slot::Other;
}
