#include "config/SettingsStore.h"

#include <QSettings>

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

} // namespace

QString SettingsStore::filePath()
{
    return openStore().fileName();
}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultValue)
{
    QSettings store = openStore();
    for (const QString& group : spellingsOf(store.childGroups(), section)) {
        store.beginGroup(group);
        const QStringList keys = spellingsOf(store.childKeys(), key);
        if (!keys.isEmpty())
            return store.value(keys.first()).toString();
        store.endGroup();
    }
    return defaultValue;
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
