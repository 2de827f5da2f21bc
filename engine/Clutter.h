#pragma once

#include <QString>

// What a desktop leaves in a folder for its own use, told by its name and its
// content together: a Finder's ".DS_Store" (its "Bud1" header) and AppleDouble
// "._" files (their magic number), Windows' "Thumbs.db" (a compound-file
// header) and "desktop.ini" (a folder-settings file). A user's file that only
// bears such a name is no clutter.
namespace Clutter {

// Whether `name`, a regular file in the folder open as `folderFd`, is clutter.
bool is(int folderFd, const QString& name);

} // namespace Clutter
