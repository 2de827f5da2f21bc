#pragma once

#include <QtGlobal>

#include <set>
#include <utility>

// The files that other processes hold open or mapped, by device and inode
// number. Taken on first use and kept for one pass over the inbox only: it is
// the fallback for file systems and owners where the kernel cannot answer
// directly whether a file is open elsewhere.
class ProcessFileSnapshot {
public:
    bool isHeldElsewhere(quint64 device, quint64 inode);
    // False when the open files of some process could not be read (another
    // account's, for a user who is not root): what it holds is unknown.
    bool seesEveryProcess();

private:
    void take();

    bool taken_ = false;
    bool seesEveryProcess_ = true;
    std::set<std::pair<quint64, quint64>> held_;
};
