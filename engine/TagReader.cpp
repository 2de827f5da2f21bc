#include "engine/TagReader.h"

#include "engine/AudioFormats.h"
#include "engine/FilingError.h"
#include "engine/MpegAudio.h"
#include "engine/commonold_unix.h"

#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
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

// The filing reads a few text frames only. Chapters and tables of contents
// hold frames of their own, which TagLib reads by recursion without bound: a
// tag of chapters nested in one another runs the thread out of stack. They are
// kept as unknown frames, unread.
template <typename> struct FirstArgument;
template <typename Class, typename Argument> struct FirstArgument<bool (Class::*)(Argument) const> {
    using Type = Argument;
};

class TextFramesOnly : public TagLib::ID3v2::FrameFactory {
    // TagLib declares the frame header inside Frame, out of a factory's reach by name.
    using HeaderPointer = FirstArgument<decltype(&TextFramesOnly::updateFrame)>::Type;

public:
    static TextFramesOnly* instance()
    {
        static TextFramesOnly factory;
        return &factory;
    }

protected:
    bool updateFrame(HeaderPointer header) const override
    {
        if (!FrameFactory::updateFrame(header))
            return false;
        const TagLib::ByteVector id = header->frameID();
        return id != "CHAP" && id != "CTOC";
    }
};

// An ID3v2 tag is read whole into memory; even a large cover picture stays far
// below this.
constexpr qint64 kMostTagBytes = qint64(64) << 20;

// The size an ID3v2 tag at the start of the file gives itself, header and footer
// included; 0 when there is none.
qint64 leadingTagBytes(int fd)
{
    unsigned char header[10];
    if (::pread(fd, header, sizeof header, 0) != ssize_t(sizeof header) || header[0] != 'I' || header[1] != 'D' ||
        header[2] != '3')
        return 0;
    qint64 size = 0;
    for (int at = 6; at < 10; ++at)
        size = (size << 7) | (header[at] & 0x7f);
    return size + 10 + ((header[5] & 0x10) ? 10 : 0);
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
    if (format && !format->isMpeg())
        return readOther(&stream, *format);
    // TagLib takes any bytes with one stray frame header for MPEG audio.
    if (!MpegAudio::holdsFrames(fd))
        throw invalidFileFormat();
    if (leadingTagBytes(fd) > kMostTagBytes)
        throw invalidFileFormat();
    TagLib::MPEG::File file(&stream, TextFramesOnly::instance(), false);
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
