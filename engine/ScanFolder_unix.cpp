#include "engine/ScanFolder.h"

#include "engine/FilingError.h"
#include "engine/commonold_unix.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

bool isPlainFile(int dirFd, const dirent* entry)
{
    if (entry->d_type != DT_UNKNOWN)
        return entry->d_type == DT_REG;
    struct stat info;
    return ::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

// Calls `take` for each entry but "." and "..". Reads through a descriptor of
// its own, so the folder's descriptor stays usable for opening files.
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

// File names are UTF-8 to Qt on Linux, as QFile::decodeName takes them; the
// direct conversion is several times cheaper on every name of every pass.
QString decodeName(const char* name)
{
    return QString::fromUtf8(name);
}

} // namespace

ScanFolder::ScanFolder(const QString& path)
{
    fd_ = ::open(QFile::encodeName(path.isEmpty() ? QStringLiteral("/") : path).constData(),
                 O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        openError_ = errno;
}

ScanFolder::~ScanFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QStringList ScanFolder::filesWithExtension(const QString& extension) const
{
    const QString suffix = QLatin1Char('.') + extension;
    // Sorted by a folded copy of each name in UTF-8, taken once, so that each
    // comparison is a plain comparison of bytes in code point order.
    std::vector<std::pair<std::string, QString>> found;
    const bool listed = fd_ >= 0 && forEachEntry(fd_, [&](const dirent* entry) {
                            if (entry->d_name[0] == '.')
                                return;
                            QString name = decodeName(entry->d_name);
                            if (name.endsWith(suffix, Qt::CaseInsensitive) && isPlainFile(fd_, entry))
                                found.emplace_back(name.toCaseFolded().toStdString(), std::move(name));
                        });
    if (!listed) {
        // A missing folder is a missing path, not a missing file.
        const int error = fd_ < 0 ? openError_ : errno;
        throw FilingError::fromErrno(error == ENOENT ? ENOTDIR : error);
    }
    std::sort(found.begin(), found.end());
    QStringList names;
    names.reserve(qsizetype(found.size()));
    for (auto& [folded, name] : found)
        names << std::move(name);
    return names;
}

QSet<QString> ScanFolder::allNames() const
{
    QSet<QString> names;
    if (fd_ >= 0)
        forEachEntry(fd_, [&](const dirent* entry) { names.insert(decodeName(entry->d_name)); });
    return names;
}

commonold::FileCheck ScanFolder::check(const QString& name, ProcessFileSnapshot* pass) const
{
    if (fd_ < 0)
        return {};
    return checkFileAt(fd_, name.toUtf8(), pass);
}
