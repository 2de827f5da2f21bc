#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Opens and creates folders under the outbox or errors folder one level at a
// time, each relative to the one above it, so that nothing under the root is
// reached through another account's link: in a folder others may write in, a
// link made by another account could send the program's writes anywhere. A
// link is followed only when it belongs to the account the program runs as
// (the rule the kernel applies in shared folders with its protected-symlinks
// setting), so a user's own link to another disk keeps working. The root
// itself is the user's choice and is opened as given.
namespace SafeFolder {

// Opens `folder`, `root` or a folder under it (both ending in "/"), creating
// the levels that are missing when `create` is set. Throws a FilingError that
// blames the level at fault: one that cannot be opened or created, or another
// account's link. A name the file system refuses blames the file (EINVAL).
int open(const QString& root, const QString& folder, bool create = false);
// open with `create`, closing the folder again.
void create(const QString& root, const QString& folder);

// The name under which `folder` (under `root`) holds the folder `level`:
// `level` itself when an entry of that name is there or none is like it,
// else the first folder whose name differs from it only in letter case.
QString spellingInUse(const QString& root, const QString& folder, const QString& level);

// The folder `name` in the folder open as `parentFd`, a link followed only
// when it is this account's own; -1 with errno set (ELOOP for another
// account's link) when it cannot be opened.
int openLevel(int parentFd, const QByteArray& name);

// True when the folder open as `fd` belongs to this account and no other may write in it.
bool isPrivate(int fd);

} // namespace SafeFolder
