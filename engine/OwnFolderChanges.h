#pragma once

#include <sys/stat.h>

// The changes the program itself makes to the inbox's folders (a song moved
// out of an album folder, its hidden folder made and removed on the way), so
// that an album's stand-still wait counts only the changes of others: a
// settled folder drains at the disk's speed. A folder is known by its device,
// inode and change time after the program's change; any later change by
// another program gives it a new change time. Safe to use from any thread.
namespace OwnFolderChanges {

// Notes the folder open as `folderFd` as last changed by the program.
void note(int folderFd);
// True when `folder`, as looked at now, was last changed by the program.
bool isOwn(const struct stat& folder);

} // namespace OwnFolderChanges
