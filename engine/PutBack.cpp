#include "engine/PutBack.h"

#include "engine/FilingError.h"
#include "engine/FittingMove.h"
#include "engine/PutBackNotes.h"
#include "engine/SafeFolder.h"

#include <QDir>

namespace {

// The levels of a name from the history, with every level that could lead
// out of the inbox ("", ".", "..") left out.
QStringList safeLevels(const QString& name)
{
    QStringList levels = name.split(QLatin1Char('/'));
    levels.removeIf([](const QString& level) {
        return level.isEmpty() || level == QLatin1String(".") || level == QLatin1String("..");
    });
    return levels;
}

} // namespace

namespace PutBack {

MoveResult file(const QString& inbox, const QString& outbox, const QString& path, const QString& inboxName,
                PutBackNotes& notes)
{
    const QString cleaned = QDir::cleanPath(path);
    if (!cleaned.startsWith(outbox) || cleaned.size() == outbox.size())
        throw FilingError::refusedFolder(path, QStringLiteral("it is not in the outbox"));
    const QString inOutbox = cleaned.mid(outbox.size());
    QStringList levels = safeLevels(inboxName);
    if (levels.isEmpty())
        levels = safeLevels(inOutbox).mid(safeLevels(inOutbox).size() - 1);
    const QString name = levels.takeLast();
    const QString folder = inbox + (levels.isEmpty() ? QString() : levels.join(QLatin1Char('/')) + QLatin1Char('/'));
    if (!levels.isEmpty())
        SafeFolder::create(inbox, folder);
    SafeMove move(outbox, inOutbox);
    const MoveResult moved = moveUnderFittingName(move, {inbox, folder, name, {}});
    if (moved.outcome != MoveResult::Outcome::Abandoned)
        notes.note(inbox, folder.mid(inbox.size()) + moved.name);
    return moved;
}

QString fileAndRecord(const QString& inbox, const QString& outbox, const QString& path,
                      const QList<History::Entry>& entries, PutBackNotes& notes, History& history)
{
    const MoveResult moved = file(inbox, outbox, path, History::inboxNameOf(entries, path), notes);
    const QString name = moved.folder.mid(inbox.size()) + moved.name;
    history.recordMove(QStringLiteral("put back"), name, path, moved);
    return moved.outcome == MoveResult::Outcome::Abandoned ? QString() : name;
}

} // namespace PutBack
