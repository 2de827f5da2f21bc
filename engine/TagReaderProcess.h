#pragma once

#include "engine/TagValues.h"

#include <QString>

#include <functional>

#include <sys/types.h>

// Reads tags in a small long-lived child process (tovrel-tag-reader), so that
// a file that crashes or hangs the tag library costs that file only: the child
// is started again for the next one. The file goes to the child as an open
// descriptor over a local socket, so a child that runs as an unprivileged
// account reads what the program opened. One read at a time; any thread.
namespace TagReaderProcess {

// The tags of the file open as `fd`, read as the format `fileName` tells;
// `meanwhile` runs once the child has the file, before its reply is awaited.
// Throws the child's FilingError for a file it could not read, and
// FileInHand::readerStopped when the child died or did not answer in time.
TagValues read(int fd, const QString& fileName, const std::function<void()>& meanwhile = {});

// For benchmarks: tags read by the program itself (true), as before the
// child existed, or by the child (false).
void readInProcess(bool inProgram);
// How long the child may take over one file before it is killed.
void setTimeLimit(int milliseconds);
// The child's process, started when none runs; 0 when it cannot be. For tests.
pid_t childProcess();

// The child's side: answers the requests on the socket `socketFd` until it
// closes. What tovrel-tag-reader runs.
int serve(int socketFd);

} // namespace TagReaderProcess
