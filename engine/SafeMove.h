#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <sys/stat.h>

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
// leaves no temporary file behind and the source untouched.
class SafeMove {
public:
    // Called between chunks with the bytes copied so far and the size; false abandons the copy.
    using Progress = std::function<bool(qint64 copied, qint64 total)>;

    struct Destination {
        QString root;            // the outbox or errors folder, ending in "/": holds the partial copies
        QString folder;          // under root, ending in "/"
        QString name;            // the name wanted
        QString companion;       // when given, a name is free only if its companion (FileName::withEnding) is free too
        bool keepSource = false; // a copy: the source stays where it is
    };

    // Opens the source and takes the lease where the system grants one.
    explicit SafeMove(const QString& source);
    // The same for `below`, a path under the folder `folder` (ending in "/"):
    // its folders are opened one by one, following no link, as they are the
    // inbox's album folders, which anyone writing in the inbox may change.
    SafeMove(const QString& folder, const QString& below);
    ~SafeMove();
    SafeMove(const SafeMove&) = delete;
    SafeMove& operator=(const SafeMove&) = delete;

    // The open source, to read from the very file that is moved.
    int descriptor() const { return fd_; }
    // The source as it was opened.
    const struct stat& sourceInfo() const { return start_; }
    // The same with the permission bits its copy gets: no more open to group
    // or others than the folders under `folder` it sat in let it be.
    struct stat filedAs() const;
    qint64 size() const { return qint64(start_.st_size); }
    // True once the source was opened for writing elsewhere or changed since it was opened.
    bool sourceChanged() const;

    // From now on the copy is made of `bytes` instead of the source's own (a
    // playlist rewritten for its new place); the source is still the file
    // that must stay the same and is removed.
    void replaceContent(const QByteArray& bytes);

    MoveResult moveTo(const Destination& to, const Progress& progress = {});

    // Writes `bytes` as a new file at `path` under `root`, by the same hidden
    // copy and rename; fails with EEXIST rather than replace a file. With
    // `like`, the file gets that file's owner, where this user may give it,
    // and its permission bits for reading and writing.
    static void writeNewFile(const QString& root, const QString& path, const QByteArray& bytes,
                             const struct stat* like = nullptr);
    // Creates the one folder `path`, flushed like a copy; its parent must exist.
    static void createFolder(const QString& path);
    // createFolder, unless the path already names a folder.
    static void createFolderIfMissing(const QString& path);

    // What an interrupted run left: its partial copies under `root` (in its
    // hidden folder, and those noted there as written in a folder of their
    // own) are removed, and inbox files it was removing are put back.
    // Nothing else is touched.
    static void removeLeftovers(const QString& root);
    static void restoreInterruptedRemovals(const QString& inbox);

private:
    static void removeNotedCopy(const QString& root, int notesFd, const QByteArray& note);
    enum class Slot { Free, Same, Other };
    Slot slotAt(int folderFd, const QByteArray& name, const QByteArray& companion, const Progress& progress = {}) const;
    QByteArray numberedCopy(int folderFd, const QByteArray& wanted, const Progress& progress) const;
    MoveResult placed(MoveResult::Outcome outcome, const QByteArray& name, const QString& folder,
                      bool numbered = false);
    bool sameContent(int otherFd, const Progress& progress) const;
    bool copyInto(int toFd, const Progress& progress, const QString& folder) const;
    bool stillTheSameFile() const;
    void keepPermissionsAndTimes(int fd) const;
    bool removeSource();
    QString whyNotRemoved(int err) const;
    void giveUp();

    QByteArray name_; // the source's name in its folder
    int folderFd_ = -1;
    int fd_ = -1;
    bool leased_ = false;
    int content() const { return contentFd_ >= 0 ? contentFd_ : fd_; }
    off_t contentSize() const { return contentFd_ >= 0 ? contentSize_ : start_.st_size; }

    int contentFd_ = -1; // what is copied, when not the source itself
    off_t contentSize_ = 0;
    bool givenUp_ = false;
    bool keepSource_ = false;
    QString notRemovedWhy_;
    struct stat start_ = {};
    struct stat root_ = {}; // the folder the source is taken from, given to the constructor
    mode_t reach_ = 0777;   // the permission bits the folders below it let group and others use
};
