#include "config/Autostart.h"

#include "config/SettingsKeys.h"
#include "engine/FilingError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>

namespace {

// An Exec argument as desktop entries want it: quoted when it holds anything
// but plain characters, with the quoting's own characters escaped, and every
// backslash doubled once more for the entry's string escapes.
QString quotedArgument(const QString& argument)
{
    static const QString plain =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:@");
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument)
        needsQuotes = needsQuotes || !plain.contains(c);
    QString text = argument;
    text.replace(QLatin1Char('%'), QLatin1String("%%"));
    if (!needsQuotes)
        return text;
    for (const char* special : {"\\", "\"", "`", "$"})
        text.replace(QLatin1String(special), QLatin1String("\\") + QLatin1String(special));
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

QString Autostart::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/tovrel.desktop");
}

bool Autostart::isEnabled()
{
    return QFileInfo::exists(filePath());
}

QString Autostart::execLine(const QString& program)
{
    return quotedArgument(program) + QStringLiteral(" --minimized");
}

void Autostart::setEnabled(bool enabled)
{
    const QString path = filePath();
    if (!enabled) {
        if (QFileInfo::exists(path) && !QFile::remove(path))
            throw FilingError::fromErrno(EACCES);
        return;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        throw FilingError::fromErrno(QFileInfo::exists(folder) ? EEXIST : EACCES);
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=%1\n"
                                         "Comment=Files MP3 files from an inbox folder into folders by their tags\n"
                                         "Exec=%2\n"
                                         "Icon=tovrel\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(kApplicationTitle, execLine(QCoreApplication::applicationFilePath()));
    QSaveFile file(path); // written whole under a temporary name, then renamed into place
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit())
        throw FilingError::fromErrno(file.error() == QFileDevice::OpenError ? EACCES : ENOSPC);
}
