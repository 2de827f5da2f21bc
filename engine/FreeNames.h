#pragma once

#include "engine/FileCopy.h"

#include <QByteArray>

#include <sys/stat.h>

// Finds the name a file is filed under in its destination folder: the name
// wanted, else the first free one of "name (2).mp3", "name (3).mp3", ...; a
// name that already holds exactly the file's bytes is a duplicate, and
// nothing needs copying. A name is taken only by a rename that refuses to
// replace a file, so a name taken meanwhile is never lost.
class FreeNames {
public:
    enum class Slot { Free, Same, Other };
    // The numbers tried at the most before a name counts as taken.
    static constexpr int kMostNumbers = 10000;

    // Names in the folder open as `folderFd`, for the `contentSize` bytes of
    // `contentFd` taken from the file `source`.
    FreeNames(int folderFd, const struct stat& source, int contentFd, off_t contentSize);

    // What `name` holds: nothing (Free), exactly the bytes filed (Same) or
    // anything else (Other). With `companion`, a name is free only if its
    // companion (FileName::withEnding) is free too.
    Slot slotAt(const QByteArray& name, const QByteArray& companion, const FileCopy::Progress& progress = {}) const;
    // The first of "name (2).mp3", "name (3).mp3", ... in the folder that holds
    // exactly the source's bytes; empty when none does. Names are compared byte
    // for byte with the numbered names of `wanted`.
    QByteArray numberedCopy(const QByteArray& wanted, const FileCopy::Progress& progress) const;

    // "name.mp3" for 1, then "name (2).mp3", "name (3).mp3", ... A name that the
    // number would make too long for the file system loses the end of its stem,
    // cut before a UTF-8 character.
    static QByteArray numbered(const QByteArray& name, int number);

    // Refuses to replace a file of the target name, also on a file system whose
    // rename cannot be told to: a new hard link refuses a taken name just as well.
    // Where there are no hard links either (FAT and exFAT through FUSE), the name
    // is taken by an empty file of this program's own, which only then is
    // renamed over. EINVAL from the rename is ambiguous (no such rename here, or
    // a name the file system refuses); the link or the empty file tells which:
    // -1 with errno EINVAL means the name is refused.
    static int renameNoReplace(int fromFd, const QByteArray& from, int toFd, const QByteArray& to);

private:
    int folderFd_;
    struct stat source_;
    int contentFd_;
    off_t contentSize_;
};
