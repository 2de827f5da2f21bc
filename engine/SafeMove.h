#pragma once

#include "engine/FileCopy.h"
#include "engine/LeasedSource.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/stat.h>

class FreeNames;

// Where a move put its file.
struct MoveResult {
    enum class Outcome {
        Filed,     // copied under `name`
        Duplicate, // `name` already held exactly these bytes: nothing was copied
        Abandoned, // the source changed, was opened for writing, or the copy was cancelled: nothing was written
    };
    Outcome outcome = Outcome::Abandoned;
    QString name;               // in the destination folder, as FileName carries it
    bool sourceRemoved = false; // the source is gone (Filed or Duplicate)
    QString folder;             // where `name` is, ending in "/"
    // Why a complete copy's source could not be removed from its folder (an
    // immutable file, a name in the way); empty when it was, or when it had
    // changed and is simply to be filed again.
    QString notRemovedWhy;
    bool numbered = false; // Filed under a number: the name wanted was taken
};

// Moves a file so that no byte is lost on the way. The source stays open under
// a read lease from construction to destruction, so another program that opens
// it for writing is noticed between two chunks of the copy, which is then
// abandoned. The copy is written in a hidden folder of the destination's root,
// checked (every byte arrived, the source is still the same file with the same
// size and times), given the source's permission bits and times, flushed, and
// renamed into place under the first free name: "name.mp3", "name (2).mp3", ...
// The rename never replaces a file. The source is removed only when it is the
// very file that was copied. Failures are thrown as FilingError; a failed copy
// leaves no temporary file behind and the source untouched. The pieces it uses
// are LeasedSource, FileCopy, PartialCopy, FreeNames and Folders.
class SafeMove {
public:
    // Called between chunks with the bytes copied so far and the size; false abandons the copy.
    using Progress = FileCopy::Progress;

    struct Destination {
        QString root;            // the outbox or errors folder, ending in "/": holds the partial copies
        QString folder;          // under root, ending in "/"
        QString name;            // the name wanted
        QString companion;       // when given, a name is free only if its companion (FileName::withEnding) is free too
        bool keepSource = false; // a copy: the source stays where it is
        // The destination may lie under the folder the source was taken from:
        // a re-filing inside the outbox.
        bool underSource = false;
    };

    // Opens the source and takes its lease as LeasedSource does: the file
    // `source`, or `below` under the folder `folder` (ending in "/").
    explicit SafeMove(const QString& source);
    SafeMove(const QString& folder, const QString& below);
    ~SafeMove();
    SafeMove(const SafeMove&) = delete;
    SafeMove& operator=(const SafeMove&) = delete;

    // The source, as its LeasedSource tells of it: the open descriptor to read
    // the very file that is moved from, the file as it was opened and as its
    // copy is filed, and whether it has changed since.
    int descriptor() const { return source_.descriptor(); }
    const struct stat& sourceInfo() const { return source_.info(); }
    struct stat filedAs() const { return source_.filedAs(); }
    qint64 size() const { return source_.size(); }
    bool sourceChanged() const { return source_.changed(); }

    // From now on the copy is made of `bytes` instead of the source's own (a
    // playlist rewritten for its new place); the source is still the file
    // that must stay the same and is removed.
    void replaceContent(const QByteArray& bytes);

    MoveResult moveTo(const Destination& to, const Progress& progress = {});

private:
    std::optional<MoveResult> duplicateBeforeCopy(const FreeNames& names, const QByteArray& wanted,
                                                  const QByteArray& companion, const QString& folder,
                                                  const Progress& progress, int& number);
    MoveResult placed(MoveResult::Outcome outcome, const QByteArray& name, const QString& folder,
                      bool numbered = false);

    LeasedSource source_;
    int content() const { return contentFd_ >= 0 ? contentFd_ : source_.descriptor(); }
    off_t contentSize() const { return contentFd_ >= 0 ? contentSize_ : source_.info().st_size; }

    int contentFd_ = -1; // what is copied, when not the source itself
    off_t contentSize_ = 0;
    bool keepSource_ = false;
};
