#include "window/LibraryCommands.h"

#include "config/SettingsStore.h"
#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/History.h"
#include "engine/OutboxRefile.h"
#include "engine/PutBack.h"
#include "engine/PutBackNotes.h"
#include "window/Headless.h"
#include "window/ServiceCommands.h"
#include "window/SingleInstance.h"
#include "window/TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// The running program's answer to `request`, its lines printed; -1 when none
// runs, or when the command line names folders or formats of its own (the
// running service files with its own).
int askRunningService(const QByteArray& request, const CommandLine::Overrides& overrides)
{
    if (overrides.inbox || overrides.outbox || overrides.errors || overrides.folderFormat || overrides.fileNameFormat)
        return -1;
    return SingleInstance::askToRun(SettingsStore::filePath(), request,
                                    [](const QByteArray& line) { PrintLine(QString::fromUtf8(line)); });
}

// The history, each line printed as it is written.
void printEachLine(History& history)
{
    history.onAppended([](const QString& line) { PrintLine(line); });
}

} // namespace

int RunRefile(const CommandLine::Overrides& overrides)
{
    if (const int status = askRunningService("refile", overrides); status >= 0)
        return status;
    const std::optional<ServiceSettings> settings = UsableSettings(overrides);
    if (!settings)
        return 2;
    History history;
    printEachLine(history);
    TerminationSignals termination;
    bool stopped = false;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, [&stopped] { stopped = true; });
    bool failed = false;
    OutboxRefile refile(settings->outbox, settings->folderFormat, settings->fileNameFormat);
    const bool ended = refile.run(
        [&](const OutboxRefile::Moved& move) {
            failed = failed || !move.failure.isEmpty();
            OutboxRefile::record(history, move);
        },
        [&stopped] {
            QCoreApplication::processEvents();
            return !stopped;
        },
        History::refiledMoves(history.entries())); // an earlier run that stopped
    if (!ended)
        PrintLine(QStringLiteral("Stopped; \"tovrel --refile\" again goes on where this run stopped."));
    return failed || !ended ? 1 : 0;
}

int RunPutBack(const QStringList& paths, const CommandLine::Overrides& overrides)
{
    QStringList absolute;
    for (const QString& path : paths)
        absolute << QFileInfo(path).absoluteFilePath();
    if (const int status = askRunningService(PutBackRequest(absolute), overrides); status >= 0)
        return status;
    const std::optional<ServiceSettings> settings = UsableSettings(overrides);
    if (!settings)
        return 2;
    History history;
    printEachLine(history);
    const QList<History::Entry> entries = history.entries();
    PutBackNotes notes;
    int status = 0;
    for (const QString& given : paths) {
        const QString path = QFileInfo(given).absoluteFilePath();
        try {
            if (PutBack::fileAndRecord(settings->inbox, settings->outbox, path, entries, notes, history).isEmpty())
                PrintLine(FileName::forDisplay(path) + QStringLiteral(" changed while it was put back; it stays."),
                          stderr);
        } catch (const std::exception& failure) {
            status = 1;
            PrintLine(QStringLiteral("tovrel: cannot put back ") + FileName::forDisplay(path) + QStringLiteral(": ") +
                          FilingError::describe(failure),
                      stderr);
        }
    }
    return status;
}
