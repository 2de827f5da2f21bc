#include "engine/TagReader.h"

#include "engine/AudioFormats.h"
#include "engine/FilingError.h"
#include "engine/MpegAudio.h"
#include "engine/commonold_unix.h"

#include "engine/Id3v2Guard.h"

#include <taglib/aifffile.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString toQString(const TagLib::String& text)
{
    return QString::fromStdString(text.to8Bit(true));
}

FilingError invalidFileFormat()
{
    return {321, QStringLiteral("Invalid file format")};
}

QString firstOf(const TagLib::PropertyMap& properties, const char* key)
{
    const auto found = properties.find(key);
    return found == properties.end() || found->second.isEmpty() ? QString() : toQString(found->second.front());
}

// The values beyond the four of every tag, by TagLib's format-neutral names
// (album artist, disc, compilation, date, genre); `tag` fills the date and
// genre where the properties have none, as an ID3v1 tag behind ID3v2 does.
void readProperties(const TagLib::PropertyMap& properties, const TagLib::Tag& tag, TagValues& values)
{
    values.albumArtist = firstOf(properties, "ALBUMARTIST");
    // "2/3": disc 2 of a set of 3.
    const QString disc = firstOf(properties, "DISCNUMBER");
    values.disc = disc.section(QLatin1Char('/'), 0, 0).trimmed().toInt();
    values.discTotal = disc.section(QLatin1Char('/'), 1, 1).trimmed().toInt();
    const QString compilation = firstOf(properties, "COMPILATION").trimmed();
    values.compilation = !compilation.isEmpty() && compilation != QLatin1String("0");
    values.date = firstOf(properties, "DATE");
    if (values.date.isEmpty() && tag.year() != 0)
        values.date = QString::number(tag.year());
    values.genre = firstOf(properties, "GENRE");
    if (values.genre.isEmpty())
        values.genre = toQString(tag.genre());
    // A genre stored as its ID3v1 number, bare or as "(17)", is shown by name.
    bool isNumber = false;
    const int genre = QString(values.genre).remove(QLatin1Char('(')).remove(QLatin1Char(')')).toInt(&isNumber);
    if (isNumber && !TagLib::ID3v1::genre(genre).isEmpty())
        values.genre = toQString(TagLib::ID3v1::genre(genre));
}

// The four values of every tag, then the others by their format-neutral names.
void readTag(const TagLib::Tag* tag, const TagLib::PropertyMap& properties, TagValues& values)
{
    if (!tag)
        return;
    values.artist = toQString(tag->artist());
    values.album = toQString(tag->album());
    values.title = toQString(tag->title());
    // TagLib keeps the track unsigned; the cast back restores a negative number.
    values.track = static_cast<int>(tag->track());
    readProperties(properties, *tag, values);
}

} // namespace

TagReader::TagReader() : values_(std::make_unique<TagValues>()) {}

TagReader::~TagReader() = default;

void TagReader::OpenTagFile(const QString& path)
{
    // Opened here, so a failure carries the errno of the open; TagLib reads
    // through the same descriptor.
    readFrom(openRegularFileForReading(path), AudioFormats::of(path));
}

void TagReader::OpenTagFile(int fd, const QString& fileName)
{
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        throw FilingError::fromErrno(errno);
    readFrom(own, AudioFormats::of(fileName));
}

void TagReader::readFrom(int fd, const AudioFormats::Format* format)
{
    *values_ = TagValues();
    // Once open, the stream owns the descriptor and closes it.
    TagLib::FileStream stream(fd, true);
    if (!stream.isOpen()) {
        const int err = errno;
        ::close(fd);
        throw FilingError::fromErrno(err);
    }
    // Every ID3v2 tag is read through the one guarded factory, within its bound.
    if (Id3v2Guard::leadingTagBytes(fd) > Id3v2Guard::kMostTagBytes)
        throw invalidFileFormat();
    if (format && format->kind == AudioFormats::Kind::Aiff)
        return readAiff(&stream);
    if (format && format->kind == AudioFormats::Kind::Other)
        return readOther(&stream, *format);
    // TagLib takes any bytes with one stray frame header for MPEG audio.
    if (!MpegAudio::holdsFrames(fd))
        throw invalidFileFormat();
    TagLib::MPEG::File file(&stream, Id3v2Guard::factory(), false);
    if (!file.isValid())
        throw invalidFileFormat();
    // tag() merges ID3v2 and ID3v1 field by field, ID3v2 first.
    readTag(file.tag(), file.properties(), *values_);
}

void TagReader::readOther(TagLib::IOStream* stream, const AudioFormats::Format& format)
{
    const std::unique_ptr<TagLib::File> file = format.open(stream);
    if (!AudioFormats::holdsAudio(*file))
        throw invalidFileFormat();
    readTag(file->tag(), file->properties(), *values_);
}

// TagLib reads an AIFF's ID3 chunk with a factory of its own: the chunk is
// hidden from it and read through the guard.
void TagReader::readAiff(TagLib::IOStream* stream)
{
    Id3v2Guard::AiffWithoutTag hidden(stream);
    const TagLib::RIFF::AIFF::File file(&hidden);
    if (!AudioFormats::holdsAudio(file))
        throw invalidFileFormat();
    if (!hidden.readTag([this](const TagLib::ID3v2::Tag& tag) { readTag(&tag, tag.properties(), *values_); }))
        throw invalidFileFormat();
}

QString TagReader::Artist() const
{
    return values_->artist;
}

QString TagReader::Album() const
{
    return values_->album;
}

QString TagReader::SongTitle() const
{
    return values_->title;
}

int TagReader::TrackNumber() const
{
    return values_->track;
}
