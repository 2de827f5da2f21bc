#include "engine/FilingError.h"

#include <cerrno>

FilingError::FilingError(int number, QString description, int lastDllError)
    : number_(number), description_(std::move(description)), lastDllError_(lastDllError), what_(description_.toUtf8())
{
}

FilingError FilingError::fromErrno(int err)
{
    switch (err) {
    case ENOENT:
        return {53, QStringLiteral("File not found"), err};
    case EEXIST:
        return {58, QStringLiteral("File already exists"), err};
    case ENOSPC:
    case EDQUOT:
        return {61, QStringLiteral("Disk full"), err};
    case EACCES:
    case EPERM:
    case EROFS:
        return {70, QStringLiteral("Permission denied"), err};
    case ENOTDIR:
        return {76, QStringLiteral("Path not found"), err};
    case ENAMETOOLONG:
        return {52, QStringLiteral("Bad file name or number"), err};
    default:
        return {75, QStringLiteral("Path/File access error"), err};
    }
}

FilingError FilingError::atDestination(int err, const QString& folder)
{
    FilingError error = fromErrno(err);
    if (err != EINVAL && err != ENAMETOOLONG && err != EILSEQ)
        error.folder_ = folder.isEmpty() ? QStringLiteral("./") : folder;
    return error;
}

FilingError FilingError::refusedFolder(const QString& folder, const QString& why)
{
    FilingError error(70, why, EPERM);
    error.folder_ = folder;
    error.what_ = why.toUtf8();
    return error;
}

FilingError FilingError::overflow()
{
    return {6, QStringLiteral("Overflow")};
}

FilingError FilingError::subscriptOutOfRange()
{
    return {9, QStringLiteral("Subscript out of range")};
}

FilingError FilingError::of(const std::exception& failure)
{
    if (const auto* filingError = dynamic_cast<const FilingError*>(&failure))
        return *filingError;
    return fromErrno(0);
}

QString FilingError::describe(const std::exception& failure)
{
    const auto* filingError = dynamic_cast<const FilingError*>(&failure);
    if (!filingError)
        return QString::fromLocal8Bit(failure.what());
    if (filingError->blamesDestination())
        return QStringLiteral("cannot write to ") + filingError->folder() + QStringLiteral(" (") +
               filingError->description() + QLatin1Char(')');
    return filingError->description();
}
