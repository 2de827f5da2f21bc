#pragma once

#include "engine/AudioFormats.h"
#include "engine/TagValues.h"

#include <QString>

#include <memory>

// Reads the tags of one audio file, by the format its name tells
// (AudioFormats); a name of no such format is read as MP3. MP3 files: ID3v2
// (2.2, 2.3, 2.4) first, field by field falling back to ID3v1; other formats:
// their own tags (Vorbis comments, MP4 atoms, ASF, APE, ID3v2 in FLAC and
// AIFF) through TagLib's format-neutral names. Every ID3v2 tag is read
// through Id3v2Guard. A file without tags answers empty texts and track 0.
// Every failure is thrown as a FilingError.
class TagReader {
public:
    TagReader();
    ~TagReader();
    TagReader(const TagReader&) = delete;
    TagReader& operator=(const TagReader&) = delete;

    // Reads the tags of the file at `path`; the file is closed again before
    // this returns. Throws the error of the failing system call when the file
    // cannot be opened, and 321 "Invalid file format" when it holds no audio
    // of its format.
    void OpenTagFile(const QString& path);
    // The same for the file open for reading as `fd`, which stays open, named
    // `fileName`. Its offset is shared: TagLib seeks before it reads.
    void OpenTagFile(int fd, const QString& fileName);

    QString Artist() const;
    QString Album() const;
    QString SongTitle() const;
    // The leading number of the track field ("7/12" gives 7); 0 when absent.
    int TrackNumber() const;
    // Every value the filing uses, the ones above included.
    const TagValues& tags() const { return *values_; }

private:
    void readFrom(int fd, const AudioFormats::Format* format); // takes the descriptor over
    void readOther(TagLib::IOStream* stream, const AudioFormats::Format& format);
    void readAiff(TagLib::IOStream* stream);
    std::unique_ptr<TagValues> values_;
};
