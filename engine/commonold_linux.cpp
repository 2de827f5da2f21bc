// The checks of commonold that only Linux can answer.
#include "engine/commonold.h"

#include "engine/FileName.h"

#include <QStorageInfo>

#include <algorithm>
#include <sys/vfs.h>

namespace {

// The kernel's magic numbers of the vfat/msdos, exfat and ntfs/ntfs3 drivers.
constexpr unsigned long kWindowsFileSystems[] = {0x4d44, 0x2011bab0, 0x5346544e, 0x7366746e};
constexpr unsigned long kFuse = 0x65735546;

} // namespace

namespace commonold {

bool IsWindowsFileSystemType(const QByteArray& type)
{
    static const QByteArrayList kTypes{"vfat",    "msdos",        "fat",       "exfat",      "ntfs",        "ntfs3",
                                       "fuseblk", "fuse.ntfs-3g", "fuse.ntfs", "fuse.exfat", "fuse.fusefat"};
    return kTypes.contains(type.toLower());
}

bool RefusesWindowsNames(const QString& folder)
{
    struct statfs info;
    if (::statfs(FileName::encode(folder).constData(), &info) != 0)
        return false;
    const auto type = static_cast<unsigned long>(info.f_type);
    if (std::find(std::begin(kWindowsFileSystems), std::end(kWindowsFileSystems), type) !=
        std::end(kWindowsFileSystems))
        return true;
    // A FUSE mount tells what it is only by the type name it was mounted with:
    // ntfs-3g and exfat-fuse mount a disk as "fuseblk".
    return type == kFuse && IsWindowsFileSystemType(QStorageInfo(folder).fileSystemType());
}

} // namespace commonold
