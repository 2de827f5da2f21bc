#pragma once

#include "engine/ServiceSettings.h"
#include "window/CommandLine.h"

#include <cstdio>
#include <optional>

class QCoreApplication;

// The stored settings with the command line's folders and formats, each
// cleaned as the dialogs clean what is typed into them; none, with the reason
// said on standard error, when their folders cannot be used.
std::optional<ServiceSettings> UsableSettings(const CommandLine::Overrides& overrides);
// `line` and a line end, at once (standard output may be a pipe to the journal).
void PrintLine(const QString& line, FILE* to = stdout);

// Runs the filing service in `app` with no window, tray or display: the
// settings file's folders and formats, less what `overrides` gives, checked as
// the Options dialog checks them. Tells each outcome in one line on standard
// output (the history's line: time, outcome, inbox name, where it went) for
// the journal, answers "tovrel --status", and ends cleanly on SIGTERM, SIGINT
// or SIGHUP within 5 seconds. Answers the exit status: 2 for folders that
// cannot be used, 1 when the program already runs for this settings file.
int RunHeadless(QCoreApplication& app, const CommandLine::Overrides& overrides);

// Prints what the running program reports, asked through its socket: status
// 0, or 3 with a message when none runs for this settings file.
int PrintRunningStatus();
