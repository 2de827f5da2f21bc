#include "config/StoredSettings.h"

#include "config/SettingsKeys.h"
#include "config/SettingsStore.h"
#include "engine/FilingError.h"
#include "engine/Folders.h"
#include "engine/commonold.h"

namespace StoredSettings {

// Compared as the program will use them: "~" expanded, then resolved. A
// folder inside another would have its files filed again, or be emptied.
QString folderConflict(const QString& inboxPath, const QString& outboxPath, const QString& errorsPath)
{
    const QList<std::pair<QString, QString>> folders{{QStringLiteral("inbox"), inboxPath},
                                                     {QStringLiteral("outbox"), outboxPath},
                                                     {QStringLiteral("errors folder"), errorsPath}};
    QStringList resolved;
    for (const auto& folder : folders)
        resolved << commonold::ResolvedFolder(withHomeFolder(folder.second));
    // An empty folder is refused where the folders are used, not as a parent of all.
    const auto inside = [](const QString& inner, const QString& outer) {
        return !outer.isEmpty() &&
               inner.startsWith(outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/'));
    };
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            if (a < b && resolved[a] == resolved[b])
                return QStringLiteral("Can't have the same path for two locations.");
            if (a != b && inside(resolved[a], resolved[b]))
                return QStringLiteral("Can't have one location inside another: the %1 %2 is inside the %3 %4.")
                    .arg(folders[a].first, folders[a].second, folders[b].first, folders[b].second);
        }
    }
    return {};
}

QString asFolder(const QString& path)
{
    QString folder = withHomeFolder(path);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

ServiceSettings read()
{
    return {SettingsStore::toBool(SettingsStore::read(Setting::State), true),
            asFolder(SettingsStore::read(Setting::InboxPath)),
            asFolder(SettingsStore::read(Setting::OutboxPath)),
            asFolder(SettingsStore::read(Setting::ErrorsPath)),
            SettingsStore::read(Setting::FileFormat),
            SettingsStore::read(Setting::FileNameFormat)};
}

QString whyUnusable(const ServiceSettings& settings)
{
    if (const QString conflict = folderConflict(settings.inbox, settings.outbox, settings.errors); !conflict.isEmpty())
        return conflict;
    const QList<std::pair<QString, QString>> folders{{QStringLiteral("inbox"), settings.inbox},
                                                     {QStringLiteral("outbox"), settings.outbox},
                                                     {QStringLiteral("errors folder"), settings.errors}};
    for (const auto& [which, path] : folders) {
        if (path == QLatin1String("/"))
            return QStringLiteral("The %1 cannot be the root folder.").arg(which);
        try {
            Folders::createFolderIfMissing(path);
        } catch (const std::exception& failure) {
            return QStringLiteral("Cannot use %1 as the %2: %3.").arg(path, which, FilingError::describe(failure));
        }
    }
    return {};
}

} // namespace StoredSettings
