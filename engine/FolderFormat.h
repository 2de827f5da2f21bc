#pragma once

#include "engine/TagValues.h"

#include <QLatin1StringView>
#include <QString>
#include <QStringList>

// The folder format until the user gives another: artist, then album.
inline const QString kDefaultFolderFormat = QStringLiteral("%ar\\%al");

// Which names a file system takes. Posix file systems take any name of up to
// 255 bytes without "/"; FAT, exFAT and NTFS refuse more: the characters
// "*/:<>?\| and control characters, and trailing dots and spaces.
enum class NameRules { Posix, Windows };

// The longest name, in bytes, that a file system takes.
constexpr int kMaxNameBytes = 255;

// One token of the folder and file name formats: its letters, what it stands
// for (for the help), and its value for a file's tags, cleaned of path
// characters and normalised to NFC. The help and the note on unknown tokens
// are drawn from the same table as the filing.
struct FormatToken {
    QLatin1StringView letters;
    const char* meaning;
    QString (*value)(const TagValues& tags);
};

// The help line: every token of the table with its meaning.
QString TokenHelp();

// The "%" followed by letters in `format` that are no token, each once, in the
// order they stand; the filing keeps them as text.
QStringList UnknownTokens(const QString& format);

// Where a file goes: the folder levels under the outbox, and its name there.
struct FiledPath {
    QStringList levels;
    QString name;
    // The levels and the name joined by "/".
    QString path() const;
};

// Where the inbox file `inboxName` with these tags is filed. The tokens of
// `folderFormat` are replaced by their values in one pass from left to right,
// so a value is never read as a token; the result is split at "\" into
// levels, each without white space around it. A level that comes out empty,
// or whose tokens all came out empty (a one-disc set for "Disc %d"), is left
// out; each level is made to fit (see FitFolderName). An empty
// `fileNameFormat` keeps the inbox name (fitted under Windows rules); otherwise its
// tokens make the name, followed by the inbox name's extension, unless one of
// them came out empty: then the inbox name is kept. A name made from tags is
// fitted like a level, its extension kept within the 255 bytes.
FiledPath FiledPathFor(const QString& folderFormat, const QString& fileNameFormat, const TagValues& tags,
                       const QString& inboxName, NameRules rules = NameRules::Posix);

// A song to show where files go when there is none at hand.
TagValues ExampleSong();

// The name as one folder inside its parent that the file system takes: "/"
// removed; cut to 255 bytes at a character boundary; under Windows rules the
// refused characters and trailing dots and spaces turned into "_"; "." and
// ".." (the folder itself, its parent) turned into "_" and "__"; and a leading
// dot, which hides a folder, into "_".
QString FitFolderName(QString name, NameRules rules = NameRules::Posix, int maxBytes = kMaxNameBytes);

// The file name cut to at most `maxBytes` bytes with its extension kept, the
// part before the extension fitted as a folder level is.
QString FitFileName(const QString& name, NameRules rules, int maxBytes);

// The text cut to at most `maxBytes` bytes of its file-system encoding, at a
// character boundary.
QString CutToBytes(const QString& text, int maxBytes);

// The name of the log beside `fileName`: the name followed by ".txt", cut to
// 255 bytes as FileName::withEnding cuts it.
QString LogNameFor(const QString& fileName);

// A folder format as it is stored: "/" starts a new folder level as "\" does
// and is stored as "\"; each level loses the characters no folder name may hold.
QString CleanedFolderFormat(QString format);
