#include "config/DefaultFolders.h"

#include "config/SettingsKeys.h"
#include "config/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

bool isInstalled(const QString& programFolder)
{
    return QFileInfo::exists(programFolder + QStringLiteral("/../share/applications/tovrel.desktop"));
}

} // namespace

QString DefaultFolders::base()
{
    return baseFor(programFolder());
}

QString DefaultFolders::baseFor(const QString& programFolder)
{
    if (QFileInfo(programFolder).isWritable() && !isInstalled(programFolder))
        return programFolder;
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty())
        music = QDir::homePath() + QStringLiteral("/Music");
    return music + QStringLiteral("/Tovrel");
}

void DefaultFolders::prepare()
{
    const QString folder = base();
    if (folder == programFolder())
        return;
    for (const Setting setting : {Setting::InboxPath, Setting::OutboxPath, Setting::ErrorsPath}) {
        if (SettingsStore::read(setting) == settingDefault(setting)) {
            QDir().mkpath(folder);
            return;
        }
    }
}
