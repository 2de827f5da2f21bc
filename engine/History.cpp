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
