#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

// A partial copy: in the hidden folder of the root when that is on the
// destination's file system, else in the destination folder itself, as
// ".tovrel-partial-<pid>-<random>". Such a copy is first noted in the root's
// hidden folder ("<pid>-<random>.in", holding the folder's path under the
// root), so that what a killed run left there is found at the next start.
// A file is written this way so that it appears under its name only whole and
// flushed, by a rename, and a failed write leaves nothing behind.
struct PartialCopy {
    // The hidden folder of the partial copies, in the outbox and errors roots;
    // the partial copies in it are named "<pid>-<random>".
    static constexpr const char* kFolder = ".tovrel-partial";

    int folderFd = -1;
    bool ownsFolder = false;
    int notesFd = -1; // the root's hidden folder, when the copy is not in it
    QByteArray note;
    QByteArray name;
    int fd = -1;

    // `folder` is the destination folder, named when the copy cannot be made.
    PartialCopy(const QString& root, int destinationFd, bool inDestination, const QString& folder);
    ~PartialCopy();
    PartialCopy(const PartialCopy&) = delete;
    PartialCopy& operator=(const PartialCopy&) = delete;

    // The note is on disk before the copy it tells of is begun.
    bool writeNote(const QByteArray& noteName, const QByteArray& under);
    void dropNote();
    // Flushes and closes the copy; false with errno set on failure.
    bool finish();
    // The copy was renamed into place: it and its note are no longer to be removed.
    void placed();
    void discard();
    void closeFolder();

    // Writes `bytes` as a new file at `path` under `root`, by the same hidden
    // copy and rename; fails with EEXIST rather than replace a file. With
    // `like`, the file gets that file's owner, where this user may give it,
    // and its permission bits for reading and writing.
    static void writeNewFile(const QString& root, const QString& path, const QByteArray& bytes,
                             const struct stat* like = nullptr);
};
