#pragma once

#include "window/CommandLine.h"

#include <QStringList>

// tovrel --refile and tovrel --put-back PATH...: the library mended from the
// command line, each move a safe move with its history line, printed as it
// is written. They run by themselves beside a running service, which leaves
// a file put back alone as it does one put back by itself. The folders and
// formats are the settings file's, less the command line's overrides.
// SIGTERM, SIGINT or SIGHUP stops them between two files.

// Moves every song of the outbox to where the formats and its tags put it
// now. Answers 0, 1 when a move failed or the run was stopped, 2 for folders
// that cannot be used.
int RunRefile(const CommandLine::Overrides& overrides);

// Puts each filed file `paths` names (in the outbox) back into the inbox
// under the name it was filed under. Answers 0, 1 when one could not be put
// back, 2 for folders that cannot be used.
int RunPutBack(const QStringList& paths, const CommandLine::Overrides& overrides);
