#pragma once

#include "engine/FolderIdentity.h"

#include <QHash>
#include <QSet>
#include <QString>

// Where the songs of each album folder went, and which of its folders the
// program took something from (only those may be removed once empty). Tied
// to the dropped folder's identity, not its name, so a later folder of the
// same name starts afresh; kept in a file of the state folder, so companions
// still follow their songs after a restart. Entries of folders that are gone
// are forgotten when the file is read. Safe to use from any thread.
namespace AlbumRecord {

struct Filed {
    QString folder; // ending in "/"
    QString name;
};
struct Album {
    QString inbox; // the inbox and the album's name in it when it was first noted
    QString name;
    qint64 born = 0;             // when the folder was made, where the file system tells
    QHash<QString, Filed> songs; // by the song's name relative to the inbox
    QSet<QString> emptied;       // folders relative to the inbox
};

// The folder `album` as the record knows it; empty when it knows nothing of it.
Album of(const FolderIdentity& album);
// A song of the album `inboxName` (relative to `inbox`, "Album/CD1/01.flac")
// left it: for `folder`/`filedName`, or, with both empty, for the errors folder.
void noteTaken(const QString& inbox, const QString& inboxName, const QString& folder = {},
               const QString& filedName = {});
// The album's file `inboxName` (a companion) left its folder.
void noteEmptied(const FolderIdentity& album, const QString& inboxName);
// The album folder is gone.
void forget(const FolderIdentity& album);

} // namespace AlbumRecord
