#include "config/SettingsKeys.h"

#include "config/DefaultFolders.h"
#include "engine/FolderFormat.h"

#include <QCoreApplication>
#include <QDir>

namespace {
const SettingKey kKeys[] = {
    {"Startup", "State", "State", "State"},
    {"Startup", "inboxpath", "InboxPath", "inboxpath"},
    {"Startup", "outboxpath", "OutboxPath", "outboxpath"},
    {"Startup", "errorspath", "ErrorsPath", "errorspath"},
    {"Advanced", "fileformat", "fileformat", "FileFormat"},
    {"Window", "Geometry", "Geometry", "Geometry"},
    {"Advanced", "FileNameFormat", "FileNameFormat", "FileNameFormat"},
};
} // namespace

const SettingKey& settingKey(Setting setting)
{
    return kKeys[static_cast<int>(setting)];
}

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString settingDefault(Setting setting)
{
    switch (setting) {
    case Setting::State:
        return QStringLiteral("true");
    case Setting::InboxPath:
        return DefaultFolders::base() + QStringLiteral("/inbox");
    case Setting::OutboxPath:
        return DefaultFolders::base() + QStringLiteral("/outbox");
    case Setting::ErrorsPath:
        return DefaultFolders::base() + QStringLiteral("/errors");
    case Setting::FileFormat:
        return kDefaultFolderFormat;
    case Setting::WindowGeometry:
    case Setting::FileNameFormat:
        return QString();
    }
    return QString();
}

QString withHomeFolder(const QString& path)
{
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}
