#pragma once

#include <QString>

// Starting the program when the user logs in, by the XDG autostart convention:
// the entry $XDG_CONFIG_HOME/autostart/tovrel.desktop runs this program with
// --minimized. Whether the entry is there is the whole setting.
class Autostart {
public:
    static QString filePath();
    static bool isEnabled();
    // Creates or removes the entry. Throws a FilingError when it cannot.
    static void setEnabled(bool enabled);
    // The entry's Exec line for the program at `program`.
    static QString execLine(const QString& program);
};
