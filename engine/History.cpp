#include "engine/History.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// File names may hold tabs and line breaks; escaped, every entry stays one line
// of tab-separated fields.
QString oneField(QString text)
{
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

void History::filed(const QString& inboxName, const QString& destination)
{
    append("filed", inboxName, destination);
}

void History::duplicate(const QString& inboxName, const QString& sameFile)
{
    append("duplicate", inboxName, QStringLiteral("same as ") + sameFile + QStringLiteral("; removed from the inbox"));
}

void History::errorFiled(const QString& inboxName, const QString& destination, const QString& why)
{
    append("error", inboxName, destination + QStringLiteral(" (") + why + QLatin1Char(')'));
}

void History::append(const char* outcome, const QString& inboxName, const QString& detail)
{
    QDir().mkpath(folder_);
    rotateWhenFull();
    QFile log(filePath_);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QString line = QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char('\t') +
                         QLatin1String(outcome) + QLatin1Char('\t') + oneField(inboxName) + QLatin1Char('\t') +
                         oneField(detail) + QLatin1Char('\n');
    log.write(line.toUtf8());
}

void History::rotateWhenFull()
{
    if (QFileInfo(filePath_).size() < kRotateAtBytes)
        return;
    const QString older = filePath_ + QStringLiteral(".1");
    QFile::remove(older);
    QFile::rename(filePath_, older);
}
