#include "engine/TagReader.h"

#include "engine/FilingError.h"
#include "engine/MpegAudio.h"
#include "engine/commonold_unix.h"

#include <taglib/id3v2framefactory.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tfilestream.h>

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

} // namespace

struct TagReader::Values {
    QString artist;
    QString album;
    QString title;
    int track = 0;
};

TagReader::TagReader() : values_(std::make_unique<Values>()) {}

TagReader::~TagReader() = default;

void TagReader::OpenTagFile(const QString& path)
{
    // Opened here, so a failure carries the errno of the open; TagLib reads
    // through the same descriptor.
    readFrom(openRegularFileForReading(path));
}

void TagReader::OpenTagFile(int fd)
{
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        throw FilingError::fromErrno(errno);
    readFrom(own);
}

void TagReader::readFrom(int fd)
{
    *values_ = Values();
    // Once open, the stream owns the descriptor and closes it.
    TagLib::FileStream stream(fd, true);
    if (!stream.isOpen()) {
        const int err = errno;
        ::close(fd);
        throw FilingError::fromErrno(err);
    }
    // TagLib takes any bytes with one stray frame header for MPEG audio.
    if (!MpegAudio::holdsFrames(fd))
        throw invalidFileFormat();
    if (leadingTagBytes(fd) > kMostTagBytes)
        throw invalidFileFormat();
    TagLib::MPEG::File file(&stream, TextFramesOnly::instance(), false);
    if (!file.isValid())
        throw invalidFileFormat();
    // tag() merges ID3v2 and ID3v1 field by field, ID3v2 first.
    const TagLib::Tag* tag = file.tag();
    if (!tag)
        return;
    values_->artist = toQString(tag->artist());
    values_->album = toQString(tag->album());
    values_->title = toQString(tag->title());
    // TagLib keeps the track unsigned; the cast back restores a negative number.
    values_->track = static_cast<int>(tag->track());
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
