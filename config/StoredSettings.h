#pragma once

#include "engine/ServiceSettings.h"

#include <QString>

// The filing service's settings as the settings file holds them, and the check
// that its folders can be used, made alike for a window and a headless run.
namespace StoredSettings {

// The start-up state, the three folders ("~" expanded, each ending in "/")
// and the two formats, as stored.
ServiceSettings read();

// A folder as the service takes it: "~" expanded, ending in "/".
QString asFolder(const QString& path);

// Why the three folders, as the settings give them ("~" for the home
// folder), cannot serve together: one given twice or one inside another,
// as the file system resolves them, whatever the spelling. Empty when they can.
QString folderConflict(const QString& inbox, const QString& outbox, const QString& errors);

// Why the three folders cannot be used; empty when they can. The root folder
// is refused (an empty folder setting would make it the inbox), and so are
// one folder given twice or one inside another, under any spelling. Each
// missing folder is created, its last level only: a folder whose parent is
// missing is a typing error the user should see, not something to build.
QString whyUnusable(const ServiceSettings& settings);

} // namespace StoredSettings
