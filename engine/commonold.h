#pragma once

#include <QString>

class ProcessFileSnapshot;

// Shared file-system checks of the filing engine and the dialogs. Paths use "/".
namespace commonold {

// True when the path names an entry (a file, a folder, a dangling link), by
// its exact bytes: "*", "?" and "[" in a name are ordinary characters.
bool FileExists(const QString& path);

// True when the path, after removing one trailing "/", names an existing
// folder; an empty path is the root folder. Answers false for a missing path or
// one that names a file; other failures (no permission to look) are thrown.
bool IsFolderValid(const QString& path);

// True only when the path names a regular file that this process can read and
// that no other process holds open, by any descriptor or memory mapping.
// Never throws. `pass` may carry one look at other processes across a pass;
// without it a look, when needed, is taken for this call alone.
bool FileIsFree(const QString& path, ProcessFileSnapshot* pass = nullptr);

// What one open of a file tells: whether it is free, as FileIsFree answers,
// and its length in bytes (0 when it cannot be told). The inbox scan asks both
// of every file on every pass, so they share the open.
// settling: held only because no one can tell who holds it open and it changed
// less than a few seconds ago. removable: this user may remove it from its
// folder (answered by ScanFolder::check only).
struct FileCheck {
    bool free = false;
    qint64 size = 0;
    bool settling = false;
    bool removable = true;
    uint owner = 0;
    // Which file it is and when it last changed (its change time, in
    // nanoseconds since the epoch): 0 when it could not be told.
    quint64 inode = 0;
    qint64 changeTime = 0;
};
FileCheck CheckFile(const QString& path, ProcessFileSnapshot* pass = nullptr);

// Bytes available to this user on the file system holding the path; 0 when it
// cannot be told.
qint64 DiskFreeBytes(const QString& path);

// True when a file of `size` bytes plus a margin of 1,000,000 bytes fits, with
// room to spare, on the file system that holds the outbox folder.
bool HasRoomFor(double size, const QString& outboxpath);
// The same test against free space already measured, for a pass over many files.
bool FitsInFreeSpace(double size, double freeBytes);

// The folder as the file system resolves it: absolute, without "." and ".."
// levels, trailing "/" or symbolic links. The part that does not exist yet is
// taken as written. An empty path stays empty.
QString ResolvedFolder(const QString& path);

// True when the file system holding the folder is one of Windows' (FAT,
// exFAT, NTFS), which refuses more characters in a name than "/".
bool RefusesWindowsNames(const QString& folder);
// True for the type names FAT, exFAT and NTFS are mounted under, by the kernel
// (vfat, msdos, exfat, ntfs3) or through FUSE (fuseblk, fuse.ntfs-3g, ...).
bool IsWindowsFileSystemType(const QByteArray& type);

// The text without "?", "\", "/", "*", ":", ">", "<" and the double quote.
QString CleanName(QString text);

} // namespace commonold
