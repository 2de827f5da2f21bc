#include "engine/AlbumFolder.h"

#include "engine/AlbumRecord.h"
#include "engine/AudioFormats.h"
#include "engine/Clutter.h"
#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/FittingMove.h"
#include "engine/FolderEntries.h"
#include "engine/OwnFolderChanges.h"
#include "engine/Playlist.h"
#include "engine/SafeMove.h"

#include <QMap>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bounds on what one look walks, against a folder made to be endless.
constexpr int kDeepest = 16;
constexpr int kMostEntries = 100000;

QString extensionOf(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot + 1).toLower() : QString();
}

QString withoutExtension(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > path.lastIndexOf(QLatin1Char('/')) + 1 ? path.left(dot) : path;
}

bool isCompanion(const QString& name)
{
    static const QStringList kinds{"jpg", "jpeg", "png", "cue", "log", "m3u", "m3u8"};
    static const QStringList covers{"cover", "folder", "front"};
    static const QStringList pictures{"gif", "bmp", "webp"};
    const QString extension = extensionOf(name);
    return kinds.contains(extension) ||
           (pictures.contains(extension) && covers.contains(withoutExtension(name).toLower()));
}

int openFolderAt(int parentFd, const char* name)
{
    return ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Removes the clutter and then every folder left empty under the open folder.
void removeClutter(int folderFd, int depth)
{
    forEachEntry(folderFd, [&](const dirent* found) {
        const char* entry = found->d_name;
        struct stat info;
        if (::fstatat(folderFd, entry, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        if (S_ISDIR(info.st_mode) && depth < kDeepest) {
            const int sub = openFolderAt(folderFd, entry);
            if (sub >= 0) {
                removeClutter(sub, depth + 1);
                ::close(sub);
                ::unlinkat(folderFd, entry, AT_REMOVEDIR); // only when empty
            }
        } else if (S_ISREG(info.st_mode) &&
                   Clutter::is(folderFd, FileName::decode(QByteArrayView(entry, qsizetype(std::strlen(entry)))))) {
            ::unlinkat(folderFd, entry, 0);
        }
    });
}

// A playlist or cue sheet larger than this is no list of songs, and is moved as it is.
constexpr qsizetype kMostPlaylistBytes = 1 << 20;

// Moves one file of the album into the outbox folder `folder` as `name`, or
// with `copy` copies it there, and notes where it went in `placed`. A playlist
// names the songs where they went (`songs`: their new paths by their names in
// the inbox). Answers why it failed: empty when it went, or when it changed
// meanwhile and is looked at again.
QString moveInto(const QString& inboxPath, const QString& source, const QString& outboxPath, const QString& folder,
                 const QString& name, QList<AlbumFolder::Placed>& placed, bool copy,
                 const QHash<QString, QString>& songs, bool& removed)
{
    removed = false;
    try {
        SafeMove move(inboxPath, source);
        if (Playlist::isPlaylist(name) && move.size() <= kMostPlaylistBytes) {
            QByteArray bytes(move.size(), Qt::Uninitialized);
            if (::pread(move.descriptor(), bytes.data(), size_t(bytes.size()), 0) != bytes.size())
                return FilingError::describe(FilingError::fromErrno(EIO));
            const QString from = source.left(qMax<qsizetype>(0, source.lastIndexOf(QLatin1Char('/'))));
            if (const QByteArray changed = Playlist::rewritten(bytes, name, from, folder, songs); changed != bytes)
                move.replaceContent(changed);
        }
        MoveResult done = moveUnderFittingName(move, {outboxPath, folder, name, {}, copy});
        if (done.outcome == MoveResult::Outcome::Abandoned)
            return {};
        done.sourceRemoved = done.sourceRemoved || copy; // a copy leaves it for the move that follows
        placed.append({source, done});
        removed = done.sourceRemoved;
        return {};
    } catch (const std::exception& failure) {
        return FilingError::describe(failure);
    }
}

QString folderOf(const QString& path)
{
    return path.left(qMax<qsizetype>(0, path.lastIndexOf(QLatin1Char('/'))));
}

// Where the songs of `folder` (relative to the inbox) went, by song name: those
// filed from that folder and the folders in it, or else from its nearest
// parent that had songs.
QMap<QString, QString> songsOf(QString folder, const QHash<QString, AlbumRecord::Filed>& filed)
{
    for (;;) {
        QMap<QString, QString> songs;
        for (auto song = filed.cbegin(); song != filed.cend(); ++song) {
            if (song.key().startsWith(folder + QLatin1Char('/')))
                songs.insert(song.key(), song->folder);
        }
        if (!songs.isEmpty() || !folder.contains(QLatin1Char('/')))
            return songs;
        folder = folderOf(folder);
    }
}

// The nearest folder below `outbox` that holds all of `songs`' folders (each
// ending in "/"); the first song's folder when only the outbox itself does.
QString commonFolder(const QMap<QString, QString>& songs, const QString& outbox)
{
    QString common = songs.first();
    for (const QString& folder : songs) {
        while (!folder.startsWith(common))
            common.truncate(common.lastIndexOf(QLatin1Char('/'), common.size() - 2) + 1);
    }
    return common.size() > outbox.size() ? common : songs.first();
}

} // namespace

bool AlbumFolder::isPicture(const QString& name)
{
    static const QStringList kinds{"jpg", "jpeg", "png", "gif", "bmp", "webp"};
    return kinds.contains(extensionOf(name));
}

bool AlbumFolder::followsSongs(const QString& name)
{
    return extensionOf(name) == QLatin1String("lrc") || isCompanion(name);
}

AlbumFolder::AlbumFolder(const QString& inboxPath, const QString& name, const FolderIdentities& keptOut)
    : inboxPath_(inboxPath), name_(name), keptOutFolders_(keptOut)
{
    const int inboxFd = ::open(FileName::encode(inboxPath.isEmpty() ? QStringLiteral("/") : inboxPath).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (inboxFd < 0)
        return;
    const int albumFd = openFolderAt(inboxFd, FileName::encode(name).constData());
    ::close(inboxFd);
    if (albumFd < 0)
        return;
    isFolder_ = true;
    struct stat album;
    const dev_t disk = ::fstat(albumFd, &album) == 0 ? album.st_dev : 0;
    identity_ = disk ? FolderIdentity::of(album) : FolderIdentity();
    record_ = AlbumRecord::of(identity_);
    const QSet<QString>& emptied = record_.emptied;
    qint64 newest = 0;
    int entries = 0;
    // The change time, which no program can set back, tells when anything in
    // the folder was last written, renamed or added; the program's own moves
    // out of a folder do not count.
    const auto note = [&](const struct stat& info) {
        if (!S_ISDIR(info.st_mode) || !OwnFolderChanges::isOwn(info))
            newest = std::max<qint64>(newest, qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec);
    };
    const auto walk = [&](const auto& self, int folderFd, const QString& relative, int depth) -> void {
        struct stat own;
        const bool looked = ::fstat(folderFd, &own) == 0;
        if (looked && keptOut.contains(FolderIdentity::of(own))) {
            keptOut_ = depth == 0;
            ++others_; // left alone, and so is every folder that holds it
            return;
        }
        if (looked)
            note(own);
        forEachEntry(folderFd, [&](const dirent* found) {
            const char* entry = found->d_name;
            struct stat info;
            if (++entries > kMostEntries || ::fstatat(folderFd, entry, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                ++others_;
                return;
            }
            note(info);
            const QString name = FileName::decode(QByteArrayView(entry, qsizetype(std::strlen(entry))));
            const QString path = relative + QLatin1Char('/') + name;
            // The walk stays on the inbox's disk: one mounted inside an album is not the album's.
            if (S_ISDIR(info.st_mode) && depth < kDeepest && info.st_dev == disk) {
                const int sub = openFolderAt(folderFd, entry);
                if (sub < 0) {
                    ++others_;
                    return;
                }
                const qsizetype before = songs_.size() + companions_.size() + lyrics_.size() + others_;
                self(self, sub, path, depth + 1);
                ::close(sub);
                // A folder that holds nothing but clutter stays unless the program emptied it.
                if (before == songs_.size() + companions_.size() + lyrics_.size() + others_ && !emptied.contains(path))
                    ++others_;
            } else if (!S_ISREG(info.st_mode)) {
                ++others_;
            } else if (Clutter::is(folderFd, name)) {
                return; // removed with the folder
            } else if (!name.startsWith(QLatin1Char('.')) && AudioFormats::of(name)) {
                songs_ << path;
            } else if (extensionOf(name) == QLatin1String("lrc") || isCompanion(name)) {
                (isCompanion(name) ? companions_ : lyrics_) << path;
                stamps_.insert(path,
                               {quint64(info.st_ino), qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec});
            } else {
                ++others_;
            }
        });
    };
    walk(walk, albumFd, name, 0);
    ::close(albumFd);
    std::sort(songs_.begin(), songs_.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    standsStill_ = qint64(now.tv_sec) * 1000000000 + now.tv_nsec - newest >= qint64(kStandStillSeconds) * 1000000000;
}

QString AlbumFolder::reason() const
{
    if (keptOut_)
        return QStringLiteral("the outbox or the errors folder: never filed");
    if (!standsStill_)
        return QStringLiteral("the folder is still changing");
    if (!songs_.isEmpty())
        return QStringLiteral("album: its songs are filed one by one");
    if (!companions_.isEmpty() || !lyrics_.isEmpty())
        return QStringLiteral("companion waiting for its songs");
    return QStringLiteral("not music");
}

// Each folder's companions follow that folder's songs: a picture beside each
// folder they went to, a cue sheet, log or playlist to the nearest folder that
// holds them all; a lyrics file beside the song of its name, named as that
// song now is.
QList<AlbumFolder::Planned> AlbumFolder::plan(const QString& outboxPath, const Aside& aside) const
{
    if (!isFolder_ || !standsStill_ || !songs_.isEmpty())
        return {};
    const QHash<QString, AlbumRecord::Filed>& filed = record_.songs;
    const auto isAside = [&](const QString& path) {
        const auto found = aside.constFind(path);
        return found != aside.cend() && *found == stamps_.value(path);
    };
    QList<Planned> planned;
    for (const QString& companion : companions_) {
        const QMap<QString, QString> songs = songsOf(folderOf(companion), filed);
        if (songs.isEmpty() || isAside(companion))
            continue;
        QStringList folders = QSet<QString>(songs.cbegin(), songs.cend()).values();
        folders.sort();
        const QString name = companion.section(QLatin1Char('/'), -1);
        if (!isPicture(name) && folders.size() > 1)
            folders = QStringList{commonFolder(songs, outboxPath)};
        planned.append({companion, folders, name});
    }
    for (const QString& lyrics : lyrics_) {
        for (auto song = filed.cbegin(); song != filed.cend() && !isAside(lyrics); ++song) {
            if (withoutExtension(song.key()) == withoutExtension(lyrics)) {
                planned.append(
                    {lyrics,
                     {song->folder},
                     withoutExtension(song->name) + QLatin1Char('.') + lyrics.section(QLatin1Char('.'), -1)});
                break;
            }
        }
    }
    return planned;
}

bool AlbumFolder::holdsMore() const
{
    return !companions_.isEmpty() || !lyrics_.isEmpty() || others_ > 0 || !songs_.isEmpty();
}

bool AlbumFolder::hasWork(const QString& outboxPath, const Aside& aside) const
{
    if (!isFolder_ || !standsStill_ || !songs_.isEmpty())
        return false;
    return !plan(outboxPath, aside).isEmpty() || (!holdsMore() && !record_.emptied.isEmpty());
}

// Copies the companion into each planned folder but the last and moves it
// into that one; a failure, or a source that stays in the inbox, sets it aside.
void AlbumFolder::place(const QString& outboxPath, const Planned& planned, const QHash<QString, QString>& songPaths)
{
    bool removed = true;
    QString why;
    for (qsizetype at = 0; removed && why.isEmpty() && at < planned.folders.size(); ++at) {
        const bool last = at + 1 == planned.folders.size();
        why = moveInto(inboxPath_, planned.source, outboxPath, planned.folders.at(at), planned.name, placed_, !last,
                       songPaths, removed);
    }
    if (removed && why.isEmpty()) {
        AlbumRecord::noteEmptied(identity_, planned.source);
        return;
    }
    // A move abandoned because the file changed meanwhile is tried again at the next look.
    const bool copiedNotRemoved = why.isEmpty() && !placed_.isEmpty() && placed_.last().inboxName == planned.source &&
                                  !placed_.last().moved.sourceRemoved;
    if (!why.isEmpty())
        failed_.append({planned.source, why});
    if (!why.isEmpty() || copiedNotRemoved)
        setAside_.insert(planned.source, stamps_.value(planned.source));
}

void AlbumFolder::finish(const QString& outboxPath, const Aside& aside)
{
    if (!isFolder_ || !standsStill_ || !songs_.isEmpty())
        return;
    const QList<Planned> planned = plan(outboxPath, aside);
    QHash<QString, QString> songPaths;
    for (auto song = record_.songs.cbegin(); song != record_.songs.cend(); ++song)
        songPaths.insert(song.key(), song->folder + song->name);
    for (const Planned& companion : planned)
        place(outboxPath, companion, songPaths);
    // Looked at again only when something left it since the look above.
    if (planned.isEmpty() ? holdsMore() : AlbumFolder(inboxPath_, name_, keptOutFolders_).holdsMore())
        return; // what is left stays, its clutter with it
    if ((planned.isEmpty() ? record_ : AlbumRecord::of(identity_)).emptied.isEmpty())
        return; // nothing was taken from it: it held no music, and is left whole
    const int inboxFd = ::open(FileName::encode(inboxPath_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (inboxFd < 0)
        return;
    const QByteArray album = FileName::encode(name_);
    const int albumFd = openFolderAt(inboxFd, album.constData());
    if (albumFd >= 0) {
        removeClutter(albumFd, 0);
        ::close(albumFd);
        if (::unlinkat(inboxFd, album.constData(), AT_REMOVEDIR) == 0)
            AlbumRecord::forget(identity_);
    }
    ::close(inboxFd);
}
