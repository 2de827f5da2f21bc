#pragma once

#include "engine/TagValues.h"

#include <QString>

#include <memory>

// Reads the ID3 tags of one MP3 file: ID3v2 (2.2, 2.3, 2.4) first, field by
// field falling back to ID3v1. A file without tags answers empty texts and
// track 0. Every failure is thrown as a FilingError.
class TagReader {
public:
    TagReader();
    ~TagReader();
    TagReader(const TagReader&) = delete;
    TagReader& operator=(const TagReader&) = delete;

    // Reads the tags of the file at `path`; the file is closed again before
    // this returns. Throws the error of the failing system call when the file
    // cannot be opened, and 321 "Invalid file format" when it holds no MPEG audio.
    void OpenTagFile(const QString& path);
    // The same for the file open for reading as `fd`, which stays open. Its
    // offset is shared: TagLib seeks before it reads.
    void OpenTagFile(int fd);

    QString Artist() const;
    QString Album() const;
    QString SongTitle() const;
    // The leading number of the track field ("7/12" gives 7); 0 when absent.
    int TrackNumber() const;
    // Every value the filing uses, the ones above included.
    const TagValues& tags() const { return *values_; }

private:
    void readFrom(int fd); // takes the descriptor over
    std::unique_ptr<TagValues> values_;
};
