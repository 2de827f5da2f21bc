#pragma once

#include "engine/FolderFormat.h"

#include <QString>

// What the filing service is told to work with: whether it starts switched
// on, its three folders (absolute, each ending in "/") and the two formats.
// A plain value, read from the settings file or the command line by whoever
// starts the service.
struct ServiceSettings {
    bool on = true;
    QString inbox;
    QString outbox;
    QString errors;
    QString folderFormat = kDefaultFolderFormat;
    QString fileNameFormat; // empty: a file keeps its inbox name
};
