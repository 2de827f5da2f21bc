#pragma once

#include "config/SettingsKeys.h"

#include <QString>

// The per-user settings store: text values by section and key under the
// application title, in an INI file under $XDG_CONFIG_HOME. Section and key
// names are matched without regard to letter case; a read never writes, and a
// write replaces every spelling of the key.
class SettingsStore {
public:
    // The file the store keeps its values in.
    static QString filePath();

    static QString read(const QString& section, const QString& key, const QString& defaultValue);
    // Answers whether the value reached the file. When it did not (a read-only
    // or full folder), nothing of the write is kept, not even in memory.
    static bool write(const QString& section, const QString& key, const QString& value);

    // A setting by its table entry: read with the reader's spelling and the
    // setting's default, written with the writer's spelling.
    static QString read(Setting setting);
    static QString readAsDialog(Setting setting);
    static bool write(Setting setting, const QString& value);

    // The message for a write that failed.
    static QString cannotSaveMessage();

    // "true" or "false" in any letter case, or a number (0 is false). Anything
    // else is not a truth value and gives the default.
    static bool toBool(const QString& text, bool defaultValue);
};
