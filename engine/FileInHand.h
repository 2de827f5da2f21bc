#pragma once

#include "engine/TagValues.h"

#include <QString>
#include <QStringList>

#include <sys/stat.h>

class FilingError;

// Which inbox file the tag reader has in hand, noted in a small file of the
// program's state folder before the tags are read and removed after. A file
// whose tags take the program down is then known at the next start: its note
// is kept among the files the reader stopped on (one note each, by device and
// inode) until the file leaves the inbox, and it is sent to the errors folder
// instead of being read again. It cannot crash the program twice.
class FileInHand {
public:
    explicit FileInHand(const QString& folder = defaultFolder());
    // The history's folder.
    static QString defaultFolder();

    // Notes `name` in `inbox` (ending in "/"), open as `fd`, as being read.
    // A note that cannot be written is skipped: it never stops the filing.
    void take(const QString& inbox, const QString& name, int fd);
    // The read ended, whichever way it ended.
    void release();

    // Keeps the note of a run that ended while it read among the files the
    // reader stopped on, and forgets those no longer in their inbox.
    void keepWhatStopped();
    // True when `name` in `inbox`, open as `fd`, is a file the reader stopped on.
    bool wasInHandWhenStopped(const QString& inbox, const QString& name, int fd) const;
    // The files of `inbox` (ending in "/") the reader stopped on, still there
    // and the same files, the note of the last run kept first.
    QStringList stoppedIn(const QString& inbox);
    // The file (as fstat gave it) the reader stopped on has left the inbox.
    void forget(const struct stat& file) const;

    // The failure such a file is sent to the errors folder with.
    static FilingError readerStopped();

    // The tags of `name` in `inbox`, open as `fd`, read with the note taken,
    // from any thread: one read at a time, so the note names the file being
    // read. Throws readerStopped for the file an earlier run stopped on.
    static TagValues readTags(const QString& inbox, const QString& name, int fd);

private:
    QString path_;
    QString stopped_; // the folder of the notes of the files the reader stopped on
};
