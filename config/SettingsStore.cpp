#include "config/SettingsStore.h"

#include <QFile>
#include <QSettings>

#include <optional>

namespace {

QSettings openStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, kApplicationTitle, kApplicationTitle);
}

// The stored spellings among `names` that equal `name` ignoring letter case.
QStringList spellingsOf(const QStringList& names, const QString& name)
{
    QStringList found;
    for (const QString& candidate : names)
        if (candidate.compare(name, Qt::CaseInsensitive) == 0)
            found << candidate;
    return found;
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

// The value of `key` in `section`, names compared without regard to letter
// case, from the file's lines themselves; none when the file or key is absent.
std::optional<QString> storedValue(const QString& section, const QString& key)
{
    QFile file(SettingsStore::filePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    QString group;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        if (line.startsWith(QChar(0xFEFF))) // a byte-order mark, from an editor
            line.remove(0, 1);
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && group.compare(section, Qt::CaseInsensitive) == 0 &&
            line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return unescaped(line.mid(equals + 1).trimmed());
    }
    return std::nullopt;
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
    QSettings store = openStore();
    if (!store.isWritable())
        return false;
    const QStringList groups = spellingsOf(store.childGroups(), section);
    for (const QString& group : groups) {
        store.beginGroup(group);
        for (const QString& old : spellingsOf(store.childKeys(), key))
            store.remove(old);
        store.endGroup();
    }
    store.beginGroup(groups.isEmpty() ? section : groups.first());
    store.setValue(key, value);
    store.endGroup();
    store.sync();
    return store.status() == QSettings::NoError;
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
