#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <functional>
#include <sys/types.h>

// Moves a file so that no data is lost on the way: the copy is written under a
// temporary name in the destination folder, flushed to disk and renamed into
// place, so a file of the destination's name is only ever replaced by a whole
// copy. The source is deleted afterwards, and only when it did not change
// since the copy began (a writer still at work, a file replaced meanwhile).
// Every failure is thrown as a FilingError; a failed copy leaves no temporary
// file behind and the source untouched.
class SafeMove {
public:
    // Called between chunks of a copy with the bytes copied so far and the
    // source's size. Answering false abandons the copy: its temporary file is
    // removed, the source stays, and copyTo throws Abandoned.
    using Progress = std::function<bool(qint64 copied, qint64 total)>;
    class Abandoned : public std::exception {
    public:
        const char* what() const noexcept override { return "copy abandoned"; }
    };

    // Opens the source and notes its size, modification time and identity.
    explicit SafeMove(const QString& source);
    ~SafeMove();
    SafeMove(const SafeMove&) = delete;
    SafeMove& operator=(const SafeMove&) = delete;

    // Copies the source to `destination`, replacing a file of that name.
    void copyTo(const QString& destination, const Progress& progress = {});
    // Deletes the source when it is still the file noted at the start, with
    // the same size and modification time. Answers whether it did.
    bool removeSourceIfUnchanged();

    // copyTo, then removeSourceIfUnchanged.
    static bool move(const QString& source, const QString& destination, const Progress& progress = {});

    // Writes `bytes` as the whole content of `path` by the same temporary name
    // and rename, replacing an earlier file.
    static void writeFile(const QString& path, const QByteArray& bytes);
    // Creates the one folder `path`, flushed like a copy; its parent must exist.
    static void createFolder(const QString& path);
    // createFolder, unless the path already names a folder.
    static void createFolderIfMissing(const QString& path);

private:
    QString source_;
    int sourceFd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t size_ = 0;
    struct timespec modified_ = {};
};
