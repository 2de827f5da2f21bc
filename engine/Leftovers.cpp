#include "engine/Leftovers.h"

#include "engine/FileName.h"
#include "engine/Folders.h"
#include "engine/PartialCopy.h"
#include "engine/SafeFolder.h"
#include "engine/SystemCalls.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

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

// The copy a note names, in the folder it names under the root, reached as
// every destination is (no other account's link followed). A folder that
// cannot be reached now (a disk not mounted) keeps its note for a later start.
void removeNotedCopy(const QString& root, int notesFd, const QByteArray& note)
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
        const QByteArray copy = QByteArray(PartialCopy::kFolder) + '-' + note.chopped(3);
        struct stat info;
        if (::fstatat(folderFd, copy.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            ::unlinkat(folderFd, copy.constData(), 0);
    } catch (const FilingError&) {
        return;
    }
    ::unlinkat(notesFd, note.constData(), 0);
}

} // namespace

void Leftovers::remove(const QString& root)
{
    const int rootFd = Folders::openFolder(FileName::encode(root));
    const Closer closeRoot{rootFd};
    const int partialFd = rootFd < 0 ? -1 : Folders::ownHiddenFolder(rootFd, PartialCopy::kFolder, false);
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
