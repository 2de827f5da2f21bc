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

// Which names a file system takes. Posix file systems take any name of up to
// 255 bytes without "/"; FAT, exFAT and NTFS refuse more: the characters
// "*/:<>?\| and control characters, and trailing dots and spaces.
enum class NameRules { Posix, Windows };

// The longest name, in bytes, that a file system takes.
constexpr int kMaxNameBytes = 255;

// The folder levels under the outbox for a file with these tags: the values
// cleaned of path characters (an empty artist becomes "various", the track at
// least two digits) put in place of the tokens "%t", "%s", "%al" and "%ar" of
// the format, in one pass from left to right, so a value is never read as a
// token; the result split at "\". An empty result gives no levels; a level may
// be empty. Each level is made to fit (see FitFolderName).
QStringList FolderLevels(const QString& format, const TagValues& tags, NameRules rules = NameRules::Posix);

// The name as one folder inside its parent that the file system takes: "/"
// removed; cut to 255 bytes at a character boundary; under Windows rules the
// refused characters and trailing dots and spaces turned into "_"; "." and
// ".." (the folder itself, its parent) turned into "_" and "__"; and a leading
// dot, which hides a folder, into "_".
QString FitFolderName(QString name, NameRules rules = NameRules::Posix);

// The text cut to at most `maxBytes` bytes of its file-system encoding, at a
// character boundary.
QString CutToBytes(const QString& text, int maxBytes);

// The name of the log beside `fileName`: the name followed by ".txt", cut to
// 255 bytes as FileName::withEnding cuts it.
QString LogNameFor(const QString& fileName);
