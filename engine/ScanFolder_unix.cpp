#include "engine/ScanFolder.h"

#include "engine/AudioFormats.h"
#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/FolderEntries.h"
#include "engine/FolderWatch.h"
#include "engine/commonold_unix.h"

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

bool isPlainFileAt(int dirFd, const char* name)
{
    struct stat info;
    return ::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

bool isPlainFile(int dirFd, const dirent* entry)
{
    if (entry->d_type != DT_UNKNOWN)
        return entry->d_type == DT_REG;
    return isPlainFileAt(dirFd, entry->d_name);
}

// Hidden names are left out; the extension is compared ignoring letter case.
bool hasListedName(const QString& name)
{
    return !name.startsWith(QLatin1Char('.')) && AudioFormats::of(name);
}

// Every byte of the name kept, so it can be opened, moved and removed later.
QString decodeName(const char* name)
{
    return FileName::decode(QByteArrayView(name, qsizetype(std::strlen(name))));
}

// A name's place in the listing: by the name folded to ignore letter case, in
// UTF-8 (code point order). The first 16 bytes are held as two numbers in a
// small key that sorts cheaply; only keys that tie there look at the whole
// folded names, and names that fold alike keep the order of their own text.
struct SortKey {
    quint64 head[2];
    qsizetype index;
};

std::string foldedName(const QString& name)
{
    return name.toCaseFolded().toStdString();
}

SortKey sortKeyOf(const std::string& folded, qsizetype index)
{
    SortKey key{{0, 0}, index};
    for (size_t i = 0; i < 16; ++i)
        key.head[i / 8] = (key.head[i / 8] << 8) | (i < folded.size() ? quint8(folded[i]) : 0);
    return key;
}

} // namespace

ScanFolder::ScanFolder(const QString& path, FolderWatch* ownLooks) : ownLooks_(ownLooks)
{
    fd_ = ::open(FileName::encode(path.isEmpty() ? QStringLiteral("/") : path).constData(),
                 O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        openError_ = errno;
        return;
    }
    struct stat info;
    if (::fstat(fd_, &info) == 0) {
        sticky_ = info.st_mode & S_ISVTX;
        owner_ = info.st_uid;
    }
    writable_ = ::faccessat(fd_, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

ScanFolder::~ScanFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QStringList ScanFolder::audioFiles(QStringList* others) const
{
    if (others)
        others->clear();
    QStringList names;
    std::vector<std::string> folded;
    const bool listed = fd_ >= 0 && forEachEntry(fd_, [&](const dirent* entry) {
                            if (entry->d_name[0] == '.')
                                return;
                            QString name = decodeName(entry->d_name);
                            if (hasListedName(name) && isPlainFile(fd_, entry)) {
                                folded.push_back(foldedName(name));
                                names << std::move(name);
                            } else if (others) {
                                *others << std::move(name);
                            }
                        });
    if (!listed) {
        // A missing folder is a missing path, not a missing file.
        const int error = fd_ < 0 ? openError_ : errno;
        throw FilingError::fromErrno(error == ENOENT ? ENOTDIR : error);
    }
    std::vector<SortKey> order;
    order.reserve(folded.size());
    for (qsizetype i = 0; i < names.size(); ++i)
        order.push_back(sortKeyOf(folded[size_t(i)], i));
    std::sort(order.begin(), order.end(), [&](const SortKey& a, const SortKey& b) {
        if (a.head[0] != b.head[0])
            return a.head[0] < b.head[0];
        if (a.head[1] != b.head[1])
            return a.head[1] < b.head[1];
        const int byFolded = folded[size_t(a.index)].compare(folded[size_t(b.index)]);
        return byFolded != 0 ? byFolded < 0 : names.at(a.index) < names.at(b.index);
    });
    if (others)
        std::sort(others->begin(), others->end(), listedBefore);
    QStringList sorted;
    sorted.reserve(names.size());
    for (const SortKey& key : order)
        sorted << names.at(key.index);
    return sorted;
}

QStringList ScanFolder::allNames() const
{
    QStringList names;
    if (fd_ >= 0)
        forEachEntry(fd_, [&](const dirent* entry) { names << decodeName(entry->d_name); });
    return names;
}

bool ScanFolder::listsFile(const QString& name) const
{
    return fd_ >= 0 && hasListedName(name) && isPlainFileAt(fd_, FileName::encode(name).constData());
}

bool ScanFolder::hasEntry(const QString& name) const
{
    struct stat info;
    return fd_ >= 0 && ::fstatat(fd_, FileName::encode(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool ScanFolder::isFolder(const QString& name) const
{
    struct stat info;
    return fd_ >= 0 && ::fstatat(fd_, FileName::encode(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(info.st_mode);
}

bool ScanFolder::listedBefore(const QString& a, const QString& b)
{
    const int byFolded = foldedName(a).compare(foldedName(b));
    return byFolded != 0 ? byFolded < 0 : a < b;
}

commonold::FileCheck ScanFolder::check(const QString& name, ProcessFileSnapshot* pass) const
{
    if (fd_ < 0)
        return {};
    const QByteArray encoded = FileName::encode(name);
    bool opened = false;
    commonold::FileCheck check = checkFileAt(fd_, encoded, pass, &opened);
    if (opened && ownLooks_)
        ownLooks_->expectOwnLook(encoded);
    // In a folder with the sticky bit (a shared one) only the owner of a file or
    // of the folder may remove the file; root may remove any.
    const uid_t user = ::geteuid();
    check.removable = writable_ && (!sticky_ || user == 0 || check.owner == user || owner_ == user);
    return check;
}
