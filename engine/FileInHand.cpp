#include "engine/FileInHand.h"

#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/History.h"
#include "engine/TagReaderProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QScopeGuard>

#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The note: "<device> <inode>\n<inbox>\0<name>", the names as bytes on disk.
struct Note {
    dev_t device = 0;
    ino_t inode = 0;
    QByteArray inbox;
    QByteArray name;
};

bool readNote(const QString& path, Note& note)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.read(64 * 1024);
    const qsizetype newline = bytes.indexOf('\n');
    const qsizetype nul = bytes.indexOf('\0', newline + 1);
    const QList<QByteArray> numbers = bytes.left(newline).split(' ');
    bool deviceRead = false, inodeRead = false;
    if (newline < 0 || nul < 0 || numbers.size() != 2)
        return false;
    note.device = dev_t(numbers.at(0).toULongLong(&deviceRead));
    note.inode = ino_t(numbers.at(1).toULongLong(&inodeRead));
    note.inbox = bytes.mid(newline + 1, nul - newline - 1);
    note.name = bytes.mid(nul + 1);
    // A song of an album folder is named with its folders, never with a way out of the inbox.
    const QList<QByteArray> levels = note.name.split('/');
    return deviceRead && inodeRead && !levels.contains(QByteArray()) && !levels.contains(".") && !levels.contains("..");
}

// Whether the note names a regular file that is still in its inbox, the same file.
bool stillThere(const Note& note)
{
    struct stat info;
    return ::fstatat(AT_FDCWD, (note.inbox + note.name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(info.st_mode) && info.st_dev == note.device && info.st_ino == note.inode;
}

QString stoppedName(dev_t device, ino_t inode)
{
    return QString::number(qulonglong(device)) + QLatin1Char('-') + QString::number(qulonglong(inode));
}

} // namespace

FileInHand::FileInHand(const QString& folder)
    : path_(folder + QStringLiteral("/reading")), stopped_(folder + QStringLiteral("/stopped/"))
{
}

QString FileInHand::defaultFolder()
{
    return History::defaultFolder();
}

void FileInHand::take(const QString& inbox, const QString& name, int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return;
    QDir().mkpath(QFileInfo(path_).path());
    QFile file(path_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QByteArray::number(qulonglong(info.st_dev)) + ' ' + QByteArray::number(qulonglong(info.st_ino)) +
                   '\n' + FileName::encode(inbox) + '\0' + FileName::encode(name));
}

void FileInHand::release()
{
    ::unlink(QFile::encodeName(path_).constData());
}

void FileInHand::keepWhatStopped()
{
    Note note;
    if (readNote(path_, note) && stillThere(note)) {
        QDir().mkpath(stopped_);
        QFile::remove(stopped_ + stoppedName(note.device, note.inode));
        QFile::rename(path_, stopped_ + stoppedName(note.device, note.inode));
    }
    release();
    for (const QString& kept : QDir(stopped_).entryList(QDir::Files)) {
        if (!readNote(stopped_ + kept, note) || !stillThere(note))
            QFile::remove(stopped_ + kept);
    }
}

bool FileInHand::wasInHandWhenStopped(const QString& inbox, const QString& name, int fd) const
{
    Note note;
    struct stat info;
    return ::fstat(fd, &info) == 0 && readNote(stopped_ + stoppedName(info.st_dev, info.st_ino), note) &&
           note.inbox == FileName::encode(inbox) && note.name == FileName::encode(name) && info.st_dev == note.device &&
           info.st_ino == note.inode;
}

QStringList FileInHand::stoppedIn(const QString& inbox)
{
    keepWhatStopped();
    QStringList names;
    Note note;
    for (const QString& kept : QDir(stopped_).entryList(QDir::Files, QDir::Name)) {
        if (readNote(stopped_ + kept, note) && note.inbox == FileName::encode(inbox))
            names << FileName::decode(note.name);
    }
    return names;
}

void FileInHand::forget(const struct stat& file) const
{
    QFile::remove(stopped_ + stoppedName(file.st_dev, file.st_ino));
}

FilingError FileInHand::readerStopped()
{
    return {321, QStringLiteral("The tag reader stopped on this file")};
}

TagValues FileInHand::readTags(const QString& inbox, const QString& name, int fd)
{
    static QMutex oneReadAtATime;
    const QMutexLocker locked(&oneReadAtATime);
    FileInHand note;
    static bool kept = false; // the note of an ended run, kept before this run's first read
    if (!std::exchange(kept, true))
        note.keepWhatStopped();
    if (note.wasInHandWhenStopped(inbox, name, fd))
        throw readerStopped();
    // Noted while the child reads, which costs the filing no time.
    const auto released = qScopeGuard([&] { note.release(); });
    return TagReaderProcess::read(fd, name, [&] { note.take(inbox, name, fd); });
}
