#include "engine/MoveDescription.h"

#include "engine/FileName.h"

namespace {

// What a move did with `name`, the display name of its inbox file, in
// `where` (the outbox or the errors folder); empty when "Processing" said it all.
QString describeMove(const QString& name, const MoveResult& moved, const QString& where)
{
    const QString notRemoved = QStringLiteral("it could not be removed from the inbox") +
                               (moved.notRemovedWhy.isEmpty() ? QStringLiteral(".")
                                                              : QStringLiteral(" (") + moved.notRemovedWhy +
                                                                    QStringLiteral("), so it is left alone."));
    switch (moved.outcome) {
    case MoveResult::Outcome::Abandoned:
        return name + QStringLiteral(" changed while it was filed, so it stays in the inbox.");
    case MoveResult::Outcome::Duplicate:
        return name + QStringLiteral(" is already in ") + where + QStringLiteral(" as ") +
               FileName::forDisplay(moved.name) +
               (moved.sourceRemoved ? QStringLiteral(": removed from the inbox.")
                                    : QStringLiteral(", but ") + notRemoved);
    case MoveResult::Outcome::Filed:
        if (!moved.sourceRemoved)
            return name + QStringLiteral(" was filed, but ") + notRemoved;
        // A song of an album folder is filed under its own name, without the folder.
        if (FileName::forDisplay(moved.name) != name.section(QLatin1Char('/'), -1) &&
            where == QLatin1String("the outbox"))
            return name + QStringLiteral(" was filed as ") + FileName::forDisplay(moved.name) +
                   (moved.numbered ? QStringLiteral(": another file had its name.") : QStringLiteral("."));
        return {};
    }
    return {};
}

} // namespace

namespace MoveDescription {

QString cannotFile(const QString& inboxName, const QString& why)
{
    return QStringLiteral("Cannot file ") + FileName::forDisplay(inboxName) + QStringLiteral(": ") + why;
}

QString ofOutcome(const FilingWorker::Result& result)
{
    const QString name = FileName::forDisplay(result.name);
    const QString cannotFileIt = cannotFile(result.name, result.failure);
    switch (result.outcome) {
    case FilingWorker::Outcome::Filed:
        return describeMove(name, result.moved, QStringLiteral("the outbox"));
    case FilingWorker::Outcome::Waiting:
        return name + QStringLiteral(" waits in the inbox: ") + result.failure + QLatin1Char('.');
    case FilingWorker::Outcome::ErrorFiled: {
        const QString how = describeMove(name, result.moved, QStringLiteral("the errors folder"));
        return cannotFileIt + QStringLiteral(". ") +
               (how.isEmpty() ? QStringLiteral("Moved to the errors folder.") : how);
    }
    case FilingWorker::Outcome::LogFailed:
        return cannotFileIt + QStringLiteral(". Moved to the errors folder; its log could not be written: ") +
               result.errorFailure + QLatin1Char('.');
    case FilingWorker::Outcome::Gone:
        return name + QStringLiteral(" left the inbox before it was filed.");
    case FilingWorker::Outcome::LeftInInbox:
        return cannotFileIt + QStringLiteral(". Left in the inbox: ") + result.errorFailure + QLatin1Char('.');
    case FilingWorker::Outcome::AlbumDone:
        return ofCompanions(result);
    }
    return {};
}

QString ofCompanions(const FilingWorker::Result& result)
{
    if (!result.companionFailures.isEmpty()) {
        const AlbumFolder::Failed& first = result.companionFailures.first();
        return cannotFile(first.inboxName, first.why) + QStringLiteral(". Left in the inbox.");
    }
    for (const AlbumFolder::Placed& companion : result.companions) {
        if (!companion.moved.sourceRemoved)
            return describeMove(FileName::forDisplay(companion.inboxName), companion.moved,
                                QStringLiteral("the outbox"));
    }
    return {};
}

} // namespace MoveDescription
