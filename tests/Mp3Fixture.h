#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Builds small MP3 files for tests: an ID3 tag in front of (ID3v1: behind) a few silent MPEG-1 Layer III frames.
namespace Mp3Fixture {

enum class Tag {
    None,
    Id3v1,
    Id3v22,      // Latin-1
    Id3v23,      // Latin-1, or UTF-16 with byte-order mark for a text beyond it
    Id3v23Utf16, // UTF-16 with byte-order mark
    Id3v24Utf8,
};

struct Tags {
    QString artist, album, title;
    QString track;         // the track field as stored, such as "7" or "7/12"; empty for none
    QStringList more = {}; // further ID3v2.3/2.4 text frames, such as "TPE2=Various Artists"
};

// The whole file. Empty texts are left out of the tag.
QByteArray build(const Tags& tags, Tag kind = Tag::Id3v23, int frames = 8);

// Writes the file, creating missing folders; false when it could not.
bool write(const QString& path, const QString& artist, const QString& album, const QString& title, int track,
           Tag kind = Tag::Id3v23);

// A tagged file of `size` bytes: MPEG frames at both ends, zeros written between (no hole: a copy writes them all).
bool writeLarge(const QString& path, const Tags& tags, qint64 size);

// A song (artist and album "Nest") whose tag holds `levels` chapters, each in the one before, the title innermost.
// In an MP3, or with `format` "flac" or "aiff" in a file of that format.
QByteArray nestedChapters(int levels, const char* format = "mp3");
// An MP4 file of `levels` movie atoms, each in the one before: deep enough, it
// takes the tag library down.
QByteArray nestedAtoms(int levels);

} // namespace Mp3Fixture
