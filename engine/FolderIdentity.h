#pragma once

#include "engine/FileName.h"

#include <QHashFunctions>
#include <QList>
#include <QString>

#include <sys/stat.h>

// A folder as the file system knows it, whatever path reaches it: its device
// and inode numbers; both 0 when it cannot be looked at.
struct FolderIdentity {
    quint64 device = 0;
    quint64 inode = 0;

    bool operator==(const FolderIdentity&) const = default;
    bool isKnown() const { return inode != 0; }

    static FolderIdentity of(const struct stat& info) { return {quint64(info.st_dev), quint64(info.st_ino)}; }
    static FolderIdentity of(const QString& path)
    {
        struct stat info;
        return ::stat(FileName::encode(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) ? of(info)
                                                                                               : FolderIdentity();
    }
};

using FolderIdentities = QList<FolderIdentity>;

inline size_t qHash(const FolderIdentity& folder, size_t seed = 0)
{
    return qHashMulti(seed, folder.device, folder.inode);
}
