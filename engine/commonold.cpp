#include "engine/commonold.h"

#include "engine/FileName.h"
#include "engine/FilingError.h"

#include <cerrno>
#include <sys/stat.h>

namespace commonold {

bool FileExists(const QString& path)
{
    struct stat info;
    return ::lstat(FileName::encode(path).constData(), &info) == 0;
}

bool IsFolderValid(const QString& path)
{
    QString folder = path;
    if (folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    if (folder.isEmpty())
        return true;
    struct stat info;
    if (::stat(FileName::encode(folder).constData(), &info) == 0)
        return S_ISDIR(info.st_mode);
    if (errno == ENOENT || errno == ENOTDIR)
        return false;
    throw FilingError::fromErrno(errno);
}

bool HasRoomFor(double size, const QString& outboxpath)
{
    return FitsInFreeSpace(size, static_cast<double>(DiskFreeBytes(outboxpath)));
}

bool FitsInFreeSpace(double size, double freeBytes)
{
    return size + 1000000.0 < freeBytes;
}

bool FileIsFree(const QString& path, ProcessFileSnapshot* pass)
{
    return CheckFile(path, pass).free;
}

QString CleanName(QString text)
{
    for (const QChar removed : {u'?', u'\\', u'/', u'*', u':', u'>', u'<', u'"'})
        text.remove(removed);
    return text;
}

} // namespace commonold
