// The checks of commonold that only Linux can answer.
#include "engine/commonold.h"

#include "engine/FileName.h"

#include <sys/vfs.h>

namespace commonold {

bool RefusesWindowsNames(const QString& folder)
{
    // The kernel's magic numbers of the vfat/msdos, exfat and ntfs/ntfs3 drivers.
    constexpr unsigned long kWindowsFileSystems[] = {0x4d44, 0x2011bab0, 0x5346544e, 0x7366746e};
    struct statfs info;
    if (::statfs(FileName::encode(folder).constData(), &info) != 0)
        return false;
    return std::find(std::begin(kWindowsFileSystems), std::end(kWindowsFileSystems),
                     static_cast<unsigned long>(info.f_type)) != std::end(kWindowsFileSystems);
}

} // namespace commonold
