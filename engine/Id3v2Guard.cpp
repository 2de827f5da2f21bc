#include "engine/Id3v2Guard.h"

#include <taglib/id3v2tag.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfile.h>

#include <unistd.h>

namespace Id3v2Guard {
namespace {

template <typename> struct FirstArgument;
template <typename Class, typename Argument> struct FirstArgument<bool (Class::*)(Argument) const> {
    using Type = Argument;
};

class TextFramesOnly : public TagLib::ID3v2::FrameFactory {
    // TagLib declares the frame header inside Frame, out of a factory's reach by name.
    using HeaderPointer = FirstArgument<decltype(&TextFramesOnly::updateFrame)>::Type;

protected:
    bool updateFrame(HeaderPointer header) const override
    {
        if (!FrameFactory::updateFrame(header))
            return false;
        const TagLib::ByteVector id = header->frameID();
        return id != "CHAP" && id != "CTOC";
    }
};

// Bytes as a file, for a tag TagLib reads from a file only.
class BytesAsFile : public TagLib::File {
public:
    explicit BytesAsFile(TagLib::IOStream* stream) : File(stream) {}
    TagLib::Tag* tag() const override { return nullptr; }
    TagLib::AudioProperties* audioProperties() const override { return nullptr; }
    bool save() override { return false; }
};

// Bounds the walk through a file made of endless empty chunks.
constexpr int kMostChunks = 10000;

} // namespace

TagLib::ID3v2::FrameFactory* factory()
{
    static TextFramesOnly guarded;
    return &guarded;
}

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

// The chunks follow the 12 bytes of "FORM", its size and "AIFF": each a name,
// a big-endian size and that many bytes, padded to an even count.
AiffWithoutTag::AiffWithoutTag(TagLib::IOStream* stream) : stream_(stream)
{
    const long end = stream_->length();
    long at = 12;
    for (int chunk = 0; chunk < kMostChunks && at + 8 <= end; ++chunk) {
        stream_->seek(at);
        const TagLib::ByteVector header = stream_->readBlock(8);
        if (header.size() != 8)
            break;
        const long size = long(header.toUInt(4U, true));
        if (header.mid(0, 4) == "ID3 " || header.mid(0, 4) == "id3 ") {
            chunkAt_ = at;
            tagBytes_ = size;
            break;
        }
        at += 8 + size + (size & 1);
    }
    stream_->seek(0);
}

TagLib::ByteVector AiffWithoutTag::readBlock(unsigned long length)
{
    const long from = stream_->tell();
    TagLib::ByteVector bytes = stream_->readBlock(length);
    // The ID3 chunk's name reads as one TagLib skips.
    for (long at = chunkAt_; chunkAt_ >= 0 && at < chunkAt_ + 4; ++at) {
        if (at >= from && at < from + long(bytes.size()))
            bytes[int(at - from)] = "JUNK"[at - chunkAt_];
    }
    return bytes;
}

bool AiffWithoutTag::readTag(const std::function<void(const TagLib::ID3v2::Tag&)>& read) const
{
    if (tagBytes_ > kMostTagBytes)
        return false;
    TagLib::ByteVector bytes;
    if (chunkAt_ >= 0) {
        const long back = stream_->tell();
        stream_->seek(chunkAt_ + 8);
        bytes = stream_->readBlock(static_cast<unsigned long>(tagBytes_));
        stream_->seek(back);
    }
    TagLib::ByteVectorStream tagStream(bytes);
    BytesAsFile file(&tagStream);
    const TagLib::ID3v2::Tag tag(&file, 0, factory());
    read(tag);
    return true;
}

} // namespace Id3v2Guard
