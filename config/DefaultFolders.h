#pragma once

#include <QString>

// Where the inbox, outbox and errors folders are until the user chooses
// others. A program run from where it was built keeps them beside its
// executable. An installed program cannot (its folder is not the user's to
// write) or should not (root would fill /usr/bin): its folders are
// <music folder>/Tovrel/inbox, outbox and errors, the music folder being the
// user's XDG music folder, ~/Music when none is set.
class DefaultFolders {
public:
    // The folder that holds the three, without a trailing "/".
    static QString base();
    // The same for a program in `programFolder`. A program is installed when
    // its folder is a "bin" folder beside the "share" folder that holds its
    // desktop entry.
    static QString baseFor(const QString& programFolder);

    // Creates the base folder when a folder setting is at a default under the
    // music folder, so that the first start creates the three as usual.
    static void prepare();
};
