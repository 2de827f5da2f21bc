#pragma once

#include "engine/FilingWorker.h"

#include <QString>

// What the status says of a filing, where "Processing" does not say it all:
// a file that could not be filed and why, a name changed or numbered, a
// duplicate, a file that stays in the inbox.
namespace MoveDescription {

// "Cannot file <name>: <why>", the start of every status of a failed file.
QString cannotFile(const QString& inboxName, const QString& why);
// The status after the filing of one file; empty when it went as expected.
QString ofOutcome(const FilingWorker::Result& result);
// The status after an album folder's companions were placed: the first one
// that failed, or else the first one that could not be removed; empty when
// all went as expected.
QString ofCompanions(const FilingWorker::Result& result);

} // namespace MoveDescription
