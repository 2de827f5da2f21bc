#pragma once

#include "engine/AlbumRecord.h"
#include "engine/FolderIdentity.h"
#include "engine/SafeMove.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// A folder dropped into the inbox, taken as an album. Looked at whole on each
// call (its subfolders too; no symbolic link is followed), so a copy still
// going on inside it is seen however deep. Its songs are filed one by one as
// loose files are, once nothing in it has changed for a few seconds; when no
// song is left, its companions follow the songs and the emptied folder goes.
class AlbumFolder {
public:
    // Seconds that nothing in the folder may have changed before it is
    // filed, as for a loose file.
    static constexpr int kStandStillSeconds = 2;

    // Looks at `name`, an entry of the inbox folder `inboxPath` (ending in "/").
    // The folders `keptOut` (the outbox, the errors folder) are never taken
    // for albums nor walked into, however they came to be inside the inbox.
    AlbumFolder(const QString& inboxPath, const QString& name, const FolderIdentities& keptOut = {});

    // Whether a file so named follows the songs of its folder: a picture, a
    // cue sheet, a log, a playlist or a lyrics file.
    static bool followsSongs(const QString& name);
    // Whether it is a picture, which goes beside every folder of the songs.
    static bool isPicture(const QString& name);

    bool isFolder() const { return isFolder_; }
    bool standsStill() const { return standsStill_; }
    // The songs, relative to the inbox ("Album/CD1/01.flac"), in name order.
    const QStringList& songs() const { return songs_; }
    // Why the folder sits in the inbox, for the list.
    QString reason() const;

    // A companion as it was when a move of it failed: the same file, unchanged
    // since, is not tried again.
    struct Stamp {
        quint64 inode = 0;
        qint64 changeTime = 0; // nanoseconds
        bool operator==(const Stamp&) const = default;
    };
    using Aside = QHash<QString, Stamp>; // by the name relative to the inbox

    // True when finish has something to do: a companion or lyrics file with
    // somewhere to go that is not set aside, or the emptied folder to remove.
    bool hasWork(const QString& outboxPath, const Aside& aside) const;
    // Once it stands still without songs: each folder's companions (pictures,
    // cue sheets, logs, playlists) follow that folder's songs, a lyrics file
    // goes beside the song of its name, never replacing a file; then clutter
    // is removed and every folder left empty, the album's own too. What else
    // is left stays. A failure leaves the file where it is, set aside.
    void finish(const QString& outboxPath, const Aside& aside = {});
    // Where finish put each companion, for the history.
    struct Placed {
        QString inboxName;
        MoveResult moved;
    };
    const QList<Placed>& placed() const { return placed_; }
    // The companions finish could not move, and why, for the history.
    struct Failed {
        QString inboxName;
        QString why;
    };
    const QList<Failed>& failed() const { return failed_; }
    // The companions finish could not move or not remove, to be left alone
    // while they do not change.
    const Aside& setAside() const { return setAside_; }

private:
    // A companion's move: copied into each folder but the last, moved into that.
    struct Planned {
        QString source;
        QStringList folders;
        QString name;
    };
    QList<Planned> plan(const QString& outboxPath, const Aside& aside) const;
    void place(const QString& outboxPath, const Planned& planned, const QHash<QString, QString>& songPaths);
    bool holdsMore() const;

    QString inboxPath_;
    QString name_;
    FolderIdentities keptOutFolders_;
    bool isFolder_ = false;
    bool keptOut_ = false;
    FolderIdentity identity_;
    AlbumRecord::Album record_; // as the look found it
    QList<Placed> placed_;
    QList<Failed> failed_;
    Aside setAside_;
    Aside stamps_; // of the companions and lyrics files, as the walk found them
    bool standsStill_ = false;
    QStringList songs_;      // relative to the inbox
    QStringList companions_; // relative to the inbox
    QStringList lyrics_;
    int others_ = 0; // neither songs, companions, lyrics nor clutter
};
