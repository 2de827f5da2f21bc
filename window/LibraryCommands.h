#pragma once

#include "window/CommandLine.h"

#include <QStringList>

// tovrel --refile and tovrel --put-back PATH...: the library mended from the
// command line, each move a safe move with its history line, printed as it
// is written. The program running for this settings file, with its window or
// headless, does it when there is one (and no folder or format is given on
// the command line); else the command runs by itself, with the settings
// file's folders and formats less the command line's overrides. SIGTERM,
// SIGINT or SIGHUP stops a run by itself between two files.

// Moves every song of the outbox to where the formats and its tags put it
// now. Answers 0, 1 when a move failed or the run was stopped, 2 for folders
// that cannot be used.
int RunRefile(const CommandLine::Overrides& overrides);

// Puts each filed file `paths` names (in the outbox) back into the inbox
// under the name it was filed under. Answers 0, 1 when one could not be put
// back, 2 for folders that cannot be used.
int RunPutBack(const QStringList& paths, const CommandLine::Overrides& overrides);
