#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

// Tells which names in one folder may have changed since it was last asked,
// from the kernel's change notification: a name is reported when an entry of
// that name is created, removed, renamed, opened, closed, written or has its
// attributes changed. Asking costs nothing when nothing happened. When events
// were lost, or the folder was replaced, it says so, and every name must be
// looked at again.
class FolderWatch {
public:
    FolderWatch() = default;
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Starts watching `folder`, dropping any earlier watch. False when no watch
    // can be set (the system's watch limit reached, a file system whose changes
    // the kernel cannot report); the caller then looks at the whole folder.
    bool watch(const QString& folder);
    bool isWatching() const { return fd_ >= 0; }
    QString folder() const { return folder_; }

    struct Changes {
        QSet<QByteArray> names;
        // Events were lost or the folder is no longer the one watched.
        bool lookAgain = false;
    };
    // Adds what happened since the last call, without waiting. A folder that
    // is no longer there or has been replaced ends the watch.
    void collect(Changes& changes);

    // This process is about to look at `name` itself by opening and closing
    // it once: the open and the close that it causes are not news.
    void expectOwnLook(const QByteArray& name);

private:
    void stop();

    int fd_ = -1;
    QString folder_;
    quint64 device_ = 0;
    quint64 inode_ = 0;
    QHash<QByteArray, int> ownOpens_;
    QHash<QByteArray, int> ownCloses_;
};
