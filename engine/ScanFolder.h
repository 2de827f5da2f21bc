#pragma once

#include "engine/commonold.h"

#include <QStringList>

class FolderWatch;
class ProcessFileSnapshot;

// A folder opened for one pass of the inbox scan: its names are listed and its
// files checked relative to it, so a pass over thousands of files does not
// resolve the folder's path again for each of them.
class ScanFolder {
public:
    // `ownLooks`, when given, watches this folder and is told of every file
    // that check() opens, so that its open and close are not taken for news.
    explicit ScanFolder(const QString& path, FolderWatch* ownLooks = nullptr);
    ~ScanFolder();
    ScanFolder(const ScanFolder&) = delete;
    ScanFolder& operator=(const ScanFolder&) = delete;

    // The plain files whose name ends in the extension of an audio format
    // (AudioFormats), in any letter case; hidden names (starting with "."), folders
    // and symbolic links are left out. Sorted by name ignoring letter case, so
    // the inbox is filed in a stable, readable order. Throws a FilingError when
    // the folder cannot be listed. `others`, when given, receives every other
    // name but the hidden ones, in the same order: what the inbox leaves alone.
    QStringList audioFiles(QStringList* others = nullptr) const;

    // Every name in the folder; empty when it cannot be listed.
    QStringList allNames() const;

    // Whether audioFiles would list `name` now.
    bool listsFile(const QString& name) const;
    // Whether the folder holds an entry of that name, of any kind.
    bool hasEntry(const QString& name) const;
    // Whether that entry is a folder (a symbolic link to one is not).
    bool isFolder(const QString& name) const;

    // True when `a` comes before `b` in the order audioFiles lists.
    static bool listedBefore(const QString& a, const QString& b);

    // commonold::CheckFile for a name in this folder, with whether this user
    // may remove the file from it.
    commonold::FileCheck check(const QString& name, ProcessFileSnapshot* pass) const;

private:
    int fd_ = -1;
    int openError_ = 0;
    FolderWatch* ownLooks_ = nullptr;
    bool writable_ = false;
    bool sticky_ = false;
    uint owner_ = 0;
};
