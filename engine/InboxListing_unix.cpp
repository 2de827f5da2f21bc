#include "engine/InboxListing.h"

#include "engine/FilingError.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

bool isPlainFile(DIR* dir, const dirent* entry)
{
    if (entry->d_type != DT_UNKNOWN)
        return entry->d_type == DT_REG;
    struct stat info;
    return ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

} // namespace

QStringList ListInbox(const QString& folder, const QString& extension)
{
    DIR* dir = ::opendir(QFile::encodeName(folder.isEmpty() ? QStringLiteral("/") : folder).constData());
    if (!dir) {
        // A missing inbox is a missing path, not a missing file.
        throw FilingError::fromErrno(errno == ENOENT ? ENOTDIR : errno);
    }
    const QString suffix = QLatin1Char('.') + extension;
    QStringList names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (name.endsWith(suffix, Qt::CaseInsensitive) && isPlainFile(dir, entry))
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int byCase = a.compare(b, Qt::CaseInsensitive);
        return byCase != 0 ? byCase < 0 : a < b;
    });
    return names;
}
