#include "engine/AlbumRecord.h"

#include "engine/FileName.h"
#include "engine/History.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// The record keeps each folder by its identity.
QDataStream& operator<<(QDataStream& out, const FolderIdentity& folder)
{
    return out << folder.device << folder.inode;
}
QDataStream& operator>>(QDataStream& in, FolderIdentity& folder)
{
    return in >> folder.device >> folder.inode;
}

namespace AlbumRecord {

QDataStream& operator<<(QDataStream& out, const Filed& filed)
{
    return out << filed.folder << filed.name;
}
QDataStream& operator>>(QDataStream& in, Filed& filed)
{
    return in >> filed.folder >> filed.name;
}
QDataStream& operator<<(QDataStream& out, const Album& album)
{
    return out << album.inbox << album.name << album.born << album.songs << album.emptied;
}
QDataStream& operator>>(QDataStream& in, Album& album)
{
    return in >> album.inbox >> album.name >> album.born >> album.songs >> album.emptied;
}

} // namespace AlbumRecord

namespace {

QMutex lock;
bool loaded = false;
QHash<FolderIdentity, AlbumRecord::Album> albums;

QString filePath()
{
    return History::defaultFolder() + QStringLiteral("/albums");
}

// The identity of the folder `name` in `inbox`, not following a link, and
// when it was made (0 where the file system does not tell): a folder made
// later under a number the file system gave again is another folder.
FolderIdentity identityOf(const QString& inbox, const QString& name, qint64* born = nullptr)
{
    struct statx info;
    const QByteArray path = FileName::encode(inbox + name);
    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_INO | STATX_BTIME, &info) != 0 ||
        !S_ISDIR(info.stx_mode))
        return {};
    if (born)
        *born = info.stx_mask & STATX_BTIME ? qint64(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec : 0;
    return {quint64(makedev(info.stx_dev_major, info.stx_dev_minor)), quint64(info.stx_ino)};
}

// Whether the album noted under `key` is still that folder, under its name.
bool stillThere(const FolderIdentity& key, const AlbumRecord::Album& album)
{
    qint64 born = 0;
    return identityOf(album.inbox, album.name, &born) == key && born == album.born;
}

// Notes the folders above `path`, relative to the inbox, as emptied.
void noteFoldersAbove(AlbumRecord::Album& album, QString path)
{
    for (qsizetype slash; (slash = path.lastIndexOf(QLatin1Char('/'))) > 0;) {
        path.truncate(slash);
        album.emptied.insert(path);
    }
}

// Reads the file once, dropping the folders that are gone. Called with the lock held.
void load()
{
    if (loaded)
        return;
    loaded = true;
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    QDataStream in(&file);
    in >> albums;
    if (in.status() != QDataStream::Ok)
        albums.clear();
    albums.removeIf([](const auto& album) { return !stillThere(album.key(), album.value()); });
}

// Writes the file whole, replacing the last one only once complete. Called with the lock held.
void save()
{
    QDir().mkpath(History::defaultFolder());
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        return;
    QDataStream out(&file);
    out << albums;
    file.commit();
}

} // namespace

namespace AlbumRecord {

Album of(const FolderIdentity& album)
{
    QMutexLocker locked(&lock);
    load();
    const auto found = albums.constFind(album);
    if (found == albums.cend() || stillThere(found.key(), *found))
        return found == albums.cend() ? Album() : *found;
    albums.erase(found);
    save();
    return {};
}

void noteTaken(const QString& inbox, const QString& inboxName, const QString& folder, const QString& filedName)
{
    const QString name = inboxName.section(QLatin1Char('/'), 0, 0);
    qint64 born = 0;
    const FolderIdentity identity = identityOf(inbox, name, &born);
    if (!identity.isKnown())
        return;
    QMutexLocker locked(&lock);
    load();
    Album& album = albums[identity];
    if (album.name.isEmpty() || !stillThere(identity, album))
        album = {inbox, name, born, {}, {}};
    if (!folder.isEmpty())
        album.songs.insert(inboxName, {folder, filedName});
    noteFoldersAbove(album, inboxName);
    save();
}

void noteEmptied(const FolderIdentity& album, const QString& inboxName)
{
    QMutexLocker locked(&lock);
    load();
    const auto found = albums.find(album);
    if (found == albums.end())
        return;
    noteFoldersAbove(*found, inboxName);
    save();
}

void forget(const FolderIdentity& album)
{
    QMutexLocker locked(&lock);
    load();
    if (albums.remove(album) > 0)
        save();
}

} // namespace AlbumRecord
