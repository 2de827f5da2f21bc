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
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
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
