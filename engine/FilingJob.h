#pragma once

#include "engine/AlbumFolder.h"
#include "engine/FolderIdentity.h"

#include <QString>

// One inbox file to file and everything its filing needs, taken from the
// processor when the file is chosen: the filing thread works on this copy and
// shares nothing with the window's thread, whatever the window changes meanwhile.
struct FilingJob {
    QString inboxpath;
    QString outboxpath;
    QString errorspath;
    QString currentinfile;
    QString currentoutfile;
    QString folderFormat;
    QString fileNameFormat; // empty: the file keeps its inbox name
    // Instead of a song, the album folder `currentinfile` has its companions
    // placed and is removed once empty; `keptOut` and `companionsAside` as
    // AlbumFolder takes them.
    bool finishAlbum = false;
    FolderIdentities keptOut;
    AlbumFolder::Aside companionsAside;
};
