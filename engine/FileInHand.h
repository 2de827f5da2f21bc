#pragma once

#include "engine/TagValues.h"

#include <QString>

class FilingError;

// Which inbox file the tag reader has in hand, noted in a small file of the
// program's state folder before the tags are read and removed after. A file
// whose tags take the program down is then known at the next start, and is
// sent to the errors folder instead of being read again: it cannot crash the
// program twice.
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

    // True when the note names `name` in `inbox`, open as `fd`: a run ended while its tags were read.
    bool wasInHandWhenStopped(const QString& inbox, const QString& name, int fd) const;
    // The file the note names, when it is still in `inbox` (ending in "/") and
    // is still the same file; empty otherwise.
    QString leftIn(const QString& inbox) const;

    // The failure such a file is sent to the errors folder with.
    static FilingError readerStopped();

    // The tags of `name` in `inbox`, open as `fd`, read with the note taken,
    // from any thread: one read at a time, so the note names the file being
    // read. Throws readerStopped for the file an earlier run stopped on.
    static TagValues readTags(const QString& inbox, const QString& name, int fd);

private:
    QString path_;
};
