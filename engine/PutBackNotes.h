#pragma once

#include <QHash>
#include <QString>

// The files put back into the inbox, each as it was when put back (its inode
// and change time), kept in put-back beside the history so that every run
// and every program of the account sees them. Such a file is not filed while
// it stays the very file it was: editing its tags changes it, and "File
// again" forgets it.
class PutBackNotes {
public:
    // The notes in `folder`; by default the history's folder.
    explicit PutBackNotes(const QString& folder = defaultFolder());
    static QString defaultFolder();

    // Notes the inbox file `name` (relative to the inbox) as it is now.
    void note(const QString& inbox, const QString& name);
    // Reads the notes again when another program (or this one) changed them:
    // once a pass, before the files are asked about.
    void refresh();
    // Whether `name`, found with this inode and change time, is a file put
    // back and unchanged since, by the notes as last read. A note of a file
    // that changed is dropped.
    bool holds(const QString& name, quint64 inode, qint64 changeTime);
    // "File again": the file is filed as any other from now on.
    void forget(const QString& name);

private:
    struct Stamp {
        quint64 inode = 0;
        qint64 changeTime = 0;
    };
    void save();

    QString path_;
    qint64 loadedAt_ = -1; // the file's change time when it was read
    QHash<QString, Stamp> notes_;
};
