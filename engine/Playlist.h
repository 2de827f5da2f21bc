#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// Playlists (.m3u, .m3u8) and cue sheets (.cue) follow their songs: an entry
// that names a song filed from the inbox is rewritten to where that song now
// is, relative to the playlist's new folder; every other line, and the line
// endings, stay byte for byte.
namespace Playlist {

// Whether the file `name` is a playlist or a cue sheet.
bool isPlaylist(const QString& name);

// `bytes` of the playlist `name`, read in the inbox folder `from` (relative
// to the inbox, "Album/CD1") and going to the folder `to` (ending in "/"),
// with its entries rewritten: `filed` gives each filed song's new path by its
// name relative to the inbox.
QByteArray rewritten(const QByteArray& bytes, const QString& name, const QString& from, const QString& to,
                     const QHash<QString, QString>& filed);

} // namespace Playlist
