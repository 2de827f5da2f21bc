#pragma once

#include <QString>
#include <QStringList>

// The tag values of one file as the tag reader gives them.
struct TagValues {
    QString artist;
    QString album;
    QString title;
    int track = 0;
};

// The folder levels under the outbox for a file with these tags: the values
// cleaned of path characters (an empty artist becomes "various", the track at
// least two digits), put in place of "%t", "%s", "%al" and "%ar" in that order,
// and the result split at "\". An empty result gives no levels; a level may be
// empty. A level never leaves its parent: "." and ".." become "_" and "__".
QStringList FolderLevels(const QString& format, const TagValues& tags);

// The name as one folder inside its parent: "/" removed, and "." and ".."
// (the folder itself, its parent) turned into "_" and "__".
QString OrdinaryFolderName(QString name);
