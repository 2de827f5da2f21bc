#pragma once

#include "engine/FilingJob.h"
#include "engine/SafeMove.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// Moves every song in the outbox to where the formats and its tags put it
// now, as safe moves (a taken name numbered, an identical file a duplicate),
// then the companions of each folder whose songs all left (pictures, cue
// sheets, logs and playlists to where most of them went, a lyrics file beside
// its song), and removes the folders the moves emptied. Nothing else is
// moved: hidden names, links and other files stay, and so does their folder.
// A song is read and moved one at a time, so a stop between two files, or an
// end of the program, leaves each song whole in one place; a run after that
// takes up where it stopped.
class History;

class OutboxRefile {
public:
    // One move: the song or companion that was at `from` (a full path).
    struct Moved {
        QString from;
        MoveResult moved;
        QString failure;   // why it could not be moved; it stays where it was
        bool copy = false; // a picture copied beside a folder of songs; it moves on to the last
    };
    using Told = std::function<void(const Moved& moved)>;
    // The history line of a move: "refiled", "copied" or, for one that failed, "error".
    static void record(History& history, const Moved& moved);
    using GoOn = std::function<bool()>;

    OutboxRefile(const QString& outbox, const QString& folderFormat, const QString& fileNameFormat);

    // The songs in the outbox, as run walks them (one `goOn` question each).
    int songCount() const;
    // The songs whose place would change, read now (tags in the tag reader).
    int countMoves(const GoOn& goOn = {}) const;
    // Moves them, telling each move, until `goOn` answers false between two
    // files. `movedBefore` (a full path, and where its song went) tells the
    // moves of an earlier run that stopped, as the history has them, so the
    // companions of a folder it had begun still find their songs. Answers
    // whether it ran to its end.
    bool run(const Told& told, const GoOn& goOn = {}, const QHash<QString, QString>& movedBefore = {});

private:
    // Folders relative to the outbox, ending in "/" ("" for the outbox itself).
    QMap<QString, QStringList> songsByFolder() const;
    FilingJob jobFor(const QString& path) const;
    bool staysAt(const QString& path, const QString& folder, const QString& name) const;
    void moveSong(const QString& path, QHash<QString, QString>& went, const Told& told);
    bool holdsSongs(const QString& folder) const;
    void moveCompanions(const QString& folder, const QHash<QString, QString>& went, const Told& told);
    void removeEmptied(QString folder) const;

    QString outbox_;
    QString folderFormat_;
    QString fileNameFormat_;
};
