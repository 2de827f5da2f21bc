#include "engine/OwnFolderChanges.h"

#include "engine/FolderIdentity.h"

#include <QHash>
#include <QMutex>

namespace {

// Only folders filed from recently matter; the oldest notes are dropped past this many.
constexpr qsizetype kMostNotes = 4096;

QMutex lock;
QHash<FolderIdentity, qint64> changed; // the change time, in nanoseconds, after the program's change

qint64 changeTime(const struct stat& info)
{
    return qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
}

} // namespace

void OwnFolderChanges::note(int folderFd)
{
    struct stat info;
    if (::fstat(folderFd, &info) != 0)
        return;
    QMutexLocker locked(&lock);
    if (changed.size() >= kMostNotes)
        changed.clear();
    changed.insert(FolderIdentity::of(info), changeTime(info));
}

bool OwnFolderChanges::isOwn(const struct stat& folder)
{
    QMutexLocker locked(&lock);
    const auto found = changed.constFind(FolderIdentity::of(folder));
    return found != changed.cend() && *found == changeTime(folder);
}
