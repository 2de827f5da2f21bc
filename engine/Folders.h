#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

// Opens and creates the folders the safe move works in, by descriptor. A new
// folder is flushed like a copy, so that it outlives a crash with the files
// filed in it. The program's hidden folders are used only when they are this
// account's, and a destination can be checked not to lie inside the folder a
// file is taken from, which would take it again.
namespace Folders {

// The folder `path`, the current one when it is empty; -1 with errno set.
int openFolder(const QByteArray& path);
// The folder `name` in the folder open as `parentFd`, following no link;
// made first (private) when `create` is set. -1 with errno set.
int openSubfolder(int parentFd, const char* name, bool create);

// The program's hidden folder `base` in the folder open as `parentFd`, made
// when missing and `create` is set. It is used only when it is this account's,
// and made private when it is not: in a folder another account may write in,
// a file could be swapped for a link just before it is renamed into place or
// removed. When another account has taken the name, "<base>-<uid>" serves
// instead. -1 when neither can be had, errno EPERM when both are another's.
int ownHiddenFolder(int parentFd, const char* base, bool create, QByteArray* used = nullptr);

// True when the folder open as `folderFd` is the folder `root` or lies inside
// it, however it was reached: its parents are followed up to "/".
bool isWithin(int folderFd, const struct stat& root);

// Creates the one folder `path`, flushed like a copy; its parent must exist.
void createFolder(const QString& path);
// createFolder, unless the path already names a folder.
void createFolderIfMissing(const QString& path);

} // namespace Folders
