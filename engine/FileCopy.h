#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <sys/stat.h>
#include <sys/types.h>

// Copies the bytes of an open file into another and compares two files, a
// chunk at a time, so that between two chunks progress is reported and a
// change of the source or a cancel is heeded at once. The copy keeps pace
// with the disk and keeps the holes of a sparse file; it is then given the
// permission bits, owner and times its file is to keep.
namespace FileCopy {

// Called between chunks with the bytes copied so far and the size; false abandons the copy.
using Progress = std::function<bool(qint64 copied, qint64 total)>;

// Writes `size` bytes of `data` at `at`; false with errno set on failure.
bool writeAll(int fd, const char* data, qsizetype size, off_t at);

// True when `otherFd` holds exactly the `size` bytes of `fd`. Compares chunk
// by chunk, reporting through the copy's hook, so a close during the
// comparison of a large file is heeded as during a copy: an abandoned
// comparison answers "not the same" and the copy that follows stops at its
// first chunk.
bool sameContent(int fd, off_t size, int otherFd, const Progress& progress);

// Copies the `size` bytes of `fromFd` into `toFd` chunk by chunk, in the
// kernel where the file systems allow it; `changed` is asked before each
// chunk, and true abandons the copy. False when the copy is abandoned; a
// failure of the destination is thrown, blaming `folder`. An error of the
// kernel copy cannot tell which side failed; it is taken as the
// destination's, so the file waits rather than being blamed.
bool copyInto(int fromFd, off_t size, int toFd, const Progress& progress, const QString& folder,
              const std::function<bool()>& changed);

// As a move would: the permission bits and times of `like` (the source as it
// is filed), and its owner where this user may give it. A file system that
// keeps none of them is no failure.
void keepPermissionsAndTimes(int fd, const struct stat& like);

} // namespace FileCopy
