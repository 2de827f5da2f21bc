#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

// The file being moved, held open under a read lease from construction to
// destruction, so that another program that opens it for writing is noticed
// (between two chunks of the copy, which is then abandoned). It tells whether
// it is still the very file that was opened, with the same size and times,
// and removes it from its folder only while it is. The removal first moves it
// aside into a hidden folder of the inbox, so restoring what an interrupted
// run was removing belongs here too: the same folder, undone the same way.
class LeasedSource {
public:
    // Opens the source and takes the lease where the system grants one.
    explicit LeasedSource(const QString& source);
    // The same for `below`, a path under the folder `folder` (ending in "/"):
    // its folders are opened one by one, following no link, as they are the
    // inbox's album folders, which anyone writing in the inbox may change.
    LeasedSource(const QString& folder, const QString& below);
    ~LeasedSource();
    LeasedSource(const LeasedSource&) = delete;
    LeasedSource& operator=(const LeasedSource&) = delete;

    // The open source, to read from the very file that is moved.
    int descriptor() const { return fd_; }
    // The source as it was opened.
    const struct stat& info() const { return start_; }
    // The folder the source is taken from, given to the constructor; zero when unknown.
    const struct stat& folderInfo() const { return root_; }
    // The same with the permission bits its copy gets: no more open to group
    // or others than the folders under `folder` it sat in let it be.
    struct stat filedAs() const;
    qint64 size() const { return qint64(start_.st_size); }
    // True once the source was opened for writing elsewhere or changed since it was opened.
    bool changed() const;
    // Every byte arrived from a source that is still the same file, under its name.
    bool stillTheSameFile() const;
    // The copy is abandoned: a writer waiting for the lease may go on at once.
    void giveUp();

    // Removes the source from its folder, when it is still the file opened;
    // false when it is not, or when it could not be removed (see notRemovedWhy).
    bool remove();
    // Why the source could not be removed; empty when it was, or when it had changed.
    const QString& notRemovedWhy() const { return notRemovedWhy_; }

    // Puts back in `inbox` the files an interrupted run was removing: the
    // other half of `remove`, kept beside it as it undoes what `remove` does.
    static void restoreInterruptedRemovals(const QString& inbox);

private:
    void openFolders(const QByteArray& folder, const QByteArray& levels);
    bool openFile();
    QString whyNotRemoved(int err) const;

    QByteArray name_; // the source's name in its folder
    int folderFd_ = -1;
    int fd_ = -1;
    bool leased_ = false;
    bool givenUp_ = false;
    QString notRemovedWhy_;
    struct stat start_ = {};
    struct stat root_ = {}; // the folder the source is taken from, given to the constructor
    mode_t reach_ = 0777;   // the permission bits the folders below it let group and others use
};
