#include "engine/History.h"

#include "engine/FileName.h"
#include "engine/SafeMove.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// File names may hold tabs and line breaks; escaped, every entry stays one line
// of tab-separated fields.
QString oneField(const QString& name)
{
    QString text = FileName::forDisplay(name);
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return text;
}

// The text oneField escaped.
QString unescaped(const QString& field)
{
    QString text;
    text.reserve(field.size());
    for (qsizetype at = 0; at < field.size(); ++at) {
        const QChar c = field.at(at);
        if (c != QLatin1Char('\\') || at + 1 == field.size()) {
            text += c;
            continue;
        }
        const QChar next = field.at(++at);
        text += next == QLatin1Char('t')   ? QChar('\t')
                : next == QLatin1Char('n') ? QChar('\n')
                : next == QLatin1Char('r') ? QChar('\r')
                                           : next;
    }
    return text;
}

const QString kNotRemoved = QStringLiteral("; could not be removed");

} // namespace

History::History(const QString& folder) : folder_(folder), filePath_(folder + QStringLiteral("/history.log")) {}

QString History::defaultFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/tovrel");
}

void History::record(const QString& inboxName, const MoveResult& moved, const QString& why)
{
    if (moved.outcome == MoveResult::Outcome::Abandoned)
        return;
    const bool duplicate = moved.outcome == MoveResult::Outcome::Duplicate;
    QString detail = (duplicate ? QStringLiteral("same as ") : QString()) + oneField(moved.folder + moved.name);
    if (!why.isEmpty())
        detail += QStringLiteral(" (") + why + QLatin1Char(')');
    if (!moved.sourceRemoved)
        detail += QStringLiteral("; could not be removed from the inbox") +
                  (moved.notRemovedWhy.isEmpty() ? QString() : QStringLiteral(" (") + moved.notRemovedWhy + ')');
    lastFailure_.remove(inboxName);
    const char* what = !why.isEmpty() ? "error" : duplicate ? "duplicate" : "filed";
    append(QLatin1String(what) + QLatin1Char('\t') + oneField(inboxName) + QLatin1Char('\t') + detail);
}

void History::recordFailure(const QString& inboxName, const QString& why)
{
    const auto last = lastFailure_.constFind(inboxName);
    if (last != lastFailure_.cend() && *last == why)
        return;
    lastFailure_.insert(inboxName, why);
    append(QStringLiteral("error\t") + oneField(inboxName) + QLatin1Char('\t') + oneField(why));
}

void History::recordGone(const QString& inboxName)
{
    lastFailure_.remove(inboxName);
    append(QStringLiteral("gone\t") + oneField(inboxName) + QStringLiteral("\tleft the inbox before it was filed"));
}

void History::recordMove(const QString& kind, const QString& name, const QString& from, const MoveResult& moved)
{
    if (moved.outcome == MoveResult::Outcome::Abandoned)
        return;
    const bool duplicate = moved.outcome == MoveResult::Outcome::Duplicate;
    QString detail = (duplicate ? QStringLiteral("same as ") : QString()) + oneField(moved.folder + moved.name);
    if (!moved.sourceRemoved && kind != QLatin1String("copied"))
        detail += QStringLiteral("; could not be removed from ") + oneField(from);
    append(kind + QLatin1Char('\t') + oneField(kind == QLatin1String("put back") ? name : from) + QLatin1Char('\t') +
           detail + (kind == QLatin1String("put back") ? QStringLiteral(" (from ") + oneField(from) + ')' : QString()));
}

QList<History::Entry> History::entries() const
{
    QList<Entry> all;
    for (const QString& path : {filePath_ + QStringLiteral(".1"), filePath_}) {
        QFile log(path);
        if (!log.open(QIODevice::ReadOnly))
            continue;
        while (!log.atEnd()) {
            const QStringList fields = QString::fromUtf8(log.readLine()).chopped(1).split(QLatin1Char('\t'));
            if (fields.size() == 4)
                all.prepend({fields[0], fields[1], unescaped(fields[2]), fields[3]});
        }
    }
    return all;
}

// The first path of the detail: a destination is escaped as a field, and may
// be followed by why, in brackets, or by a note that the source stayed.
QString History::Entry::destination() const
{
    QString path = detail;
    if (path.startsWith(QLatin1String("same as ")))
        path.remove(0, 8);
    if (!path.startsWith(QLatin1Char('/')))
        return {};
    if (const qsizetype stayed = path.indexOf(kNotRemoved); stayed >= 0)
        path.truncate(stayed);
    if (kind == QLatin1String("error") || kind == QLatin1String("put back"))
        path.truncate(path.lastIndexOf(QStringLiteral(" (")));
    return unescaped(path);
}

QString History::inboxNameOf(const QList<Entry>& entries, const QString& path)
{
    QString wanted = path;
    for (const Entry& entry : entries) {
        if (entry.destination() != wanted)
            continue;
        if (entry.kind == QLatin1String("refiled"))
            wanted = entry.name;
        else if (entry.kind == QLatin1String("filed") || entry.kind == QLatin1String("duplicate"))
            return entry.name;
    }
    return {};
}

QHash<QString, QString> History::refiledMoves(const QList<Entry>& entries)
{
    QHash<QString, QString> moves;
    for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry)
        if (entry->kind == QLatin1String("refiled"))
            moves.insert(entry->name, entry->destination());
    return moves;
}

void History::append(const QString& line)
{
    QDir().mkpath(folder_);
    rotateWhenFull();
    const QString dated = QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char('\t') + line;
    QFile log(filePath_);
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write((dated + QLatin1Char('\n')).toUtf8());
    if (appended_)
        appended_(dated);
}

void History::rotateWhenFull()
{
    if (QFileInfo(filePath_).size() < kRotateAtBytes)
        return;
    const QString older = filePath_ + QStringLiteral(".1");
    QFile::remove(older);
    QFile::rename(filePath_, older);
}
