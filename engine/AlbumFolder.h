#pragma once

#include "engine/FolderIdentity.h"
#include "engine/SafeMove.h"

#include <QHash>
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

    bool isFolder() const { return isFolder_; }
    bool standsStill() const { return standsStill_; }
    // The songs, relative to the inbox ("Album/CD1/01.flac"), in name order.
    const QStringList& songs() const { return songs_; }
    // Why the folder sits in the inbox, for the list.
    QString reason() const;

    // Once it stands still without songs: its companions (pictures, cue
    // sheets, logs, playlists) go into the one folder its songs went to, a
    // lyrics file beside the song of its name, never replacing a file; then
    // clutter is removed and every folder left empty, the album's own too.
    // What else is left stays. A failure leaves the files where they are.
    // True when the folder may have changed.
    bool finish(const QString& outboxPath);
    // Where finish put each companion, for the history.
    struct Placed {
        QString inboxName;
        MoveResult moved;
    };
    const QList<Placed>& placed() const { return placed_; }

private:
    QString inboxPath_;
    QString name_;
    bool isFolder_ = false;
    bool keptOut_ = false;
    FolderIdentity identity_;
    QList<Placed> placed_;
    bool standsStill_ = false;
    QStringList songs_;      // relative to the inbox
    QStringList companions_; // relative to the inbox
    QStringList lyrics_;
    int others_ = 0; // neither songs, companions, lyrics nor clutter
};
