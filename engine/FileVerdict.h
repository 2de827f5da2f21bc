#pragma once

#include "engine/commonold.h"

#include <QtGlobal>

// What one look at an inbox file found: its length, whether another program
// holds it open, and whether its name in the outbox root is held open.
struct FileVerdict {
    qint64 size = 0;
    bool inboxFree = false;
    bool outboxLocked = false;

    bool fitsIn(double freeBytes) const { return commonold::FitsInFreeSpace(double(size), freeBytes); }
    bool canBeFiled(double freeBytes) const { return fitsIn(freeBytes) && settled(); }
    // Nothing but the free space can change this verdict without the kernel
    // reporting a change: a file held only by a mapping lets go silently, so
    // an unsettled verdict is asked for again on every pass.
    bool settled() const { return inboxFree && !outboxLocked; }
};
