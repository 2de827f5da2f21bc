#pragma once

#include "engine/commonold.h"

#include <QStringList>

class ProcessFileSnapshot;

// A folder opened for one pass of the inbox scan: its names are listed and its
// files checked relative to it, so a pass over thousands of files does not
// resolve the folder's path again for each of them.
class ScanFolder {
public:
    explicit ScanFolder(const QString& path);
    ~ScanFolder();
    ScanFolder(const ScanFolder&) = delete;
    ScanFolder& operator=(const ScanFolder&) = delete;

    // The plain files whose name ends in "." followed by `extension`, compared
    // without regard to letter case; hidden names (starting with "."), folders
    // and symbolic links are left out. Sorted by name ignoring letter case, so
    // the inbox is filed in a stable, readable order. Throws a FilingError when
    // the folder cannot be listed.
    QStringList filesWithExtension(const QString& extension) const;

    // Every name in the folder; empty when it cannot be listed.
    QStringList allNames() const;

    // commonold::CheckFile for a name in this folder, with whether this user
    // may remove the file from it.
    commonold::FileCheck check(const QString& name, ProcessFileSnapshot* pass) const;

private:
    int fd_ = -1;
    int openError_ = 0;
    bool writable_ = false;
    bool sticky_ = false;
    uint owner_ = 0;
};
