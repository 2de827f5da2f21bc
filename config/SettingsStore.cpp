#include "config/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include <optional>

namespace {

QSettings openStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, kApplicationTitle, kApplicationTitle);
}

// A value as the file holds it, read the way the program writes it ("\\" for a
// backslash, quotes around a value with ",", ";", "=" or outer spaces, a leading
// "@" doubled) and the way a user writes it by hand: a single "\" is a
// backslash, as the folder format's level separator. (Qt's own reader would
// take it for the start of an escape and drop it.)
QString unescaped(const QString& raw)
{
    QString value;
    for (qsizetype at = 0; at < raw.size(); ++at) {
        const QChar c = raw.at(at);
        const QChar next = at + 1 < raw.size() ? raw.at(at + 1) : QChar();
        if (c == QLatin1Char('"'))
            continue;
        if (c == QLatin1Char('\\') && (next == QLatin1Char('\\') || next == QLatin1Char('"')))
            value += raw.at(++at);
        else
            value += c;
    }
    if (value.startsWith(QLatin1String("@@")))
        value.remove(0, 1);
    return value;
}

// The value as the file holds it: a backslash doubled, a quote escaped, and
// quotes around a value with ",", ";", "=" or outer spaces; a leading "@" doubled.
// Both this store's reader and Qt's read it back as it was.
QString escaped(const QString& value)
{
    QString text;
    for (const QChar c : value) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) // a value is one line: it cannot start another key
            continue;
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            text += QLatin1Char('\\');
        text += c;
    }
    if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('=')) ||
        text != text.trimmed())
        text = QLatin1Char('"') + text + QLatin1Char('"');
    return text;
}

// The section a line opens, if it opens one.
std::optional<QString> sectionName(QString line)
{
    if (line.startsWith(QChar(0xFEFF))) // a byte-order mark, from an editor
        line.remove(0, 1);
    line = line.trimmed();
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
        return line.mid(1, line.size() - 2).trimmed();
    return std::nullopt;
}

// The key a line sets; empty for any other line.
QString keyOf(const QString& line)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    return equals > 0 ? line.left(equals).trimmed() : QString();
}

// The file's lines as they stand; none when there is no file.
QStringList storedLines()
{
    QFile file(SettingsStore::filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return lines;
}

// The value of `key` in `section`, names compared without regard to letter
// case, from the file's lines themselves; none when the file or key is absent.
std::optional<QString> storedValue(const QString& section, const QString& key)
{
    QString group;
    for (const QString& line : storedLines()) {
        if (const std::optional<QString> name = sectionName(line))
            group = *name;
        else if (group.compare(section, Qt::CaseInsensitive) == 0 && keyOf(line).compare(key, Qt::CaseInsensitive) == 0)
            return unescaped(line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed());
    }
    return std::nullopt;
}

// Where a new key of `section` goes: after its last entry, or in a new
// section at the end of the file.
qsizetype endOfSection(QStringList& lines, const QString& section)
{
    qsizetype end = -1;
    bool inside = false;
    for (qsizetype line = 0; line < lines.size(); ++line) {
        if (const std::optional<QString> name = sectionName(lines[line]))
            inside = name->compare(section, Qt::CaseInsensitive) == 0;
        else if (inside && !lines[line].trimmed().isEmpty())
            end = line;
        if (inside && end < 0)
            end = line;
    }
    if (end >= 0)
        return end + 1;
    if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
        lines << QString();
    lines << QLatin1Char('[') + section + QLatin1Char(']');
    return lines.size();
}

// Replaces the file with these lines, whole or not at all; a line a user wrote
// by hand stays as it was written.
bool storeLines(const QStringList& lines)
{
    const QString path = SettingsStore::filePath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    return file.commit();
}

} // namespace

QString SettingsStore::filePath()
{
    return openStore().fileName();
}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultValue)
{
    return storedValue(section, key).value_or(defaultValue);
}

bool SettingsStore::write(const QString& section, const QString& key, const QString& value)
{
    QStringList lines = storedLines();
    // Every spelling of the key goes; the value takes the place of the first.
    qsizetype at = -1;
    QString group;
    for (qsizetype line = 0; line < lines.size(); ++line) {
        if (const std::optional<QString> name = sectionName(lines[line])) {
            group = *name;
            continue;
        }
        if (group.compare(section, Qt::CaseInsensitive) != 0 || keyOf(lines[line]).compare(key, Qt::CaseInsensitive))
            continue;
        if (at < 0)
            at = line;
        else
            lines.removeAt(line--);
    }
    const QString entry = key + QLatin1Char('=') + escaped(value);
    if (at >= 0)
        lines[at] = entry;
    else
        lines.insert(endOfSection(lines, section), entry);
    return storeLines(lines);
}

QString SettingsStore::read(Setting setting)
{
    const SettingKey& key = settingKey(setting);
    return read(key.section, key.keyRead, settingDefault(setting));
}

QString SettingsStore::readAsDialog(Setting setting)
{
    const SettingKey& key = settingKey(setting);
    return read(key.section, key.keyReadByDialog, settingDefault(setting));
}

bool SettingsStore::write(Setting setting, const QString& value)
{
    const SettingKey& key = settingKey(setting);
    return write(key.section, key.keyWritten, value);
}

QString SettingsStore::cannotSaveMessage()
{
    return QStringLiteral("The settings could not be saved: ") + filePath() + QStringLiteral(" cannot be written.");
}

bool SettingsStore::toBool(const QString& text, bool defaultValue)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    return isNumber ? number != 0 : defaultValue;
}
