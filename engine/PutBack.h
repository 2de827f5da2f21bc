#pragma once

#include "engine/History.h"
#include "engine/SafeMove.h"

class PutBackNotes;

// Puts a filed file back from the outbox into the inbox, as safely as any
// filing: copied, checked, renamed into place under its inbox name (its
// folders made in the inbox), never replacing a file (a taken name is
// numbered, an identical file is a duplicate), removed from the outbox last.
// The file is then noted, so the filing leaves it alone until it changes.
namespace PutBack {

// `path` must lie in `outbox` (both as the service knows them); it is reached
// as every source is, following no link. `inboxName` is the name it was filed
// under ("Album/01.flac"); empty, it takes its own name. Throws a FilingError
// when the file cannot be put back; it then stays where it was.
MoveResult file(const QString& inbox, const QString& outbox, const QString& path, const QString& inboxName,
                PutBackNotes& notes);
// file, under the name `entries` (the history) tell, and its "put back"
// line written to `history`. Answers the file's name in the inbox now.
QString fileAndRecord(const QString& inbox, const QString& outbox, const QString& path,
                      const QList<History::Entry>& entries, PutBackNotes& notes, History& history);

} // namespace PutBack
