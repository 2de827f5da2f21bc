#pragma once

#include <QString>

#include <memory>

namespace TagLib {
class File;
class IOStream;
} // namespace TagLib

// The audio formats the inbox takes, each known by the extension of its file
// name (in any letter case) and by how its bytes are told to be that audio.
// The scan lists the files of these formats, the counters count them, and the
// tag reader opens each as its own format.
namespace AudioFormats {

// How the tag reader opens a format: MP3, whose frames are looked at first
// (MpegAudio); AIFF, whose ID3 chunk it reads itself (Id3v2Guard); any other
// by its `open`.
enum class Kind { Mpeg, Aiff, Other };

struct Format {
    const char* extension; // lower case, without the dot
    Kind kind;
    // Opens the stream as this format for its tags and its audio (Other only).
    std::unique_ptr<TagLib::File> (*open)(TagLib::IOStream* stream) = nullptr;
};

// The format the file name's extension names; null for any other name.
const Format* of(const QString& fileName);

// Whether TagLib read audio from `file`: a valid file of the format, with a
// stream that has a length. A file of the right name that holds anything
// else is not music.
bool holdsAudio(const TagLib::File& file);

// The name the file has in the outbox root: an `inext` file keeps its name
// less its last four characters, then "." and `outext`; a file of any other
// format keeps its own name.
QString outboxName(const QString& inboxName, const QString& inext, const QString& outext);

} // namespace AudioFormats
