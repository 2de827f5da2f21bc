#pragma once

#include "engine/FilingError.h"
#include "engine/FolderEntries.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <dirent.h>
#include <unistd.h>

// Helpers shared by the pieces of the safe move, which work on descriptors
// with plain system calls: a failed call is thrown as the FilingError that
// tells whom it blames, and a descriptor is closed however a scope is left.

[[noreturn]] inline void throwErrno(int err = errno)
{
    throw FilingError::fromErrno(err);
}

// A failure to create or write something in `folder`: the destination's fault
// unless the file system refused the name (see FilingError::atDestination).
[[noreturn]] inline void blame(const QString& folder, int err = errno)
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

// Calls `take` with each name in the folder but "." and "..".
template <typename Take> void forEachName(int folderFd, Take take)
{
    forEachEntry(folderFd, [&](const dirent* entry) { take(QByteArray(entry->d_name)); });
}
