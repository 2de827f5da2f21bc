#pragma once

#include "engine/commonold.h"

#include <QByteArray>

#include <sys/stat.h>

// commonold::CheckFile for `name` relative to the folder open as `dirFd`
// (AT_FDCWD for a path of its own). `opened`, when given, tells whether the
// file was opened (and closed again) to answer.
commonold::FileCheck checkFileAt(int dirFd, const QByteArray& name, ProcessFileSnapshot* pass, bool* opened = nullptr);

// Leases are looked at, not waited for: their break signal is ignored.
void ignoreLeaseBreakSignal();

// Opens the regular file at `path` for reading, never through a symbolic
// link. Throws a FilingError with the
// errno of the failure: that of the open, EISDIR for a folder, EINVAL for any
// other kind of entry. `info`, when given, receives the file's status.
int openRegularFileForReading(const QString& path, struct stat* info = nullptr);
