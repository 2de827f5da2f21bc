#pragma once

#include "engine/commonold.h"

#include <QtGlobal>

// What one look at an inbox file found: its length, whether another program
// holds it open (or, where its holders cannot be seen, whether it changed a
// moment ago), whether this user may remove it from the inbox, whether its
// name in the outbox root is held open, and whether it was put back from the
// outbox and has not changed since.
struct FileVerdict {
    qint64 size = 0;
    bool inboxFree = false;
    bool settling = false;
    bool removable = true;
    bool outboxLocked = false;
    bool putBack = false;

    bool fitsIn(double freeBytes) const { return commonold::FitsInFreeSpace(double(size), freeBytes); }
    bool canBeFiled(double freeBytes) const { return fitsIn(freeBytes) && settled(); }
    // Nothing but the free space can change this verdict without the kernel
    // reporting a change to the file. A holder can let go unreported (through
    // a hard link elsewhere, an advisory lock), time settles a file, and the
    // folder's permissions decide removal: an unsettled verdict is asked for
    // again on every pass, as is a file put back ("File again" tells no kernel).
    bool settled() const { return inboxFree && removable && !outboxLocked && !putBack; }
};
