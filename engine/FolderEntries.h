#pragma once

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

// Calls `take` with each entry of the open folder but "." and "..". Reads
// through a descriptor of its own, so the folder's descriptor stays usable for
// opening files in it; false when the folder cannot be read.
template <typename Take> bool forEachEntry(int folderFd, Take take)
{
    DIR* dir = ::fdopendir(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            take(entry);
    }
    ::closedir(dir);
    return true;
}
