#pragma once

#include <taglib/id3v2framefactory.h>
#include <taglib/tiostream.h>

#include <QtGlobal>

#include <functional>

namespace TagLib::ID3v2 {
class Tag;
} // namespace TagLib::ID3v2

// One guard for every ID3v2 tag the program reads, whatever file carries it
// (MP3, FLAC, AIFF): the same frame factory, which leaves chapters and tables
// of contents unread, and the same bound on a tag's size.
namespace Id3v2Guard {

// An ID3v2 tag is read whole into memory; even a large cover picture stays
// far below this.
constexpr qint64 kMostTagBytes = qint64(64) << 20;

// The factory every ID3v2 tag is read with. The filing reads a few text frames
// only; chapters and tables of contents hold frames of their own, which TagLib
// reads by recursion without bound, so a tag of chapters nested in one another
// would run the reader out of stack. They are kept as unknown frames, unread.
TagLib::ID3v2::FrameFactory* factory();

// The size an ID3v2 tag at the start of the file open as `fd` gives itself,
// header and footer included; 0 when there is none.
qint64 leadingTagBytes(int fd);

// An AIFF file as TagLib reads it, with its ID3 chunk hidden from TagLib
// (whose AIFF reader has no factory of the program's choosing): the chunk is
// read here instead, through factory(). A stream over `stream`.
class AiffWithoutTag : public TagLib::IOStream {
public:
    explicit AiffWithoutTag(TagLib::IOStream* stream);
    // Hands the AIFF's tag, read through factory() (an empty tag when it has
    // none), to `read`; false when the tag is larger than kMostTagBytes.
    bool readTag(const std::function<void(const TagLib::ID3v2::Tag&)>& read) const;

    TagLib::FileName name() const override { return stream_->name(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long = 0, unsigned long = 0) override {}
    void removeBlock(unsigned long = 0, unsigned long = 0) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return stream_->isOpen(); }
    void seek(long offset, Position p = Beginning) override { stream_->seek(offset, p); }
    void clear() override { stream_->clear(); }
    long tell() const override { return stream_->tell(); }
    long length() override { return stream_->length(); }
    void truncate(long) override {}

private:
    TagLib::IOStream* stream_;
    long chunkAt_ = -1; // where the ID3 chunk's name is; -1 when there is none
    long tagBytes_ = 0;
};

} // namespace Id3v2Guard
