#include "engine/MpegAudio.h"

#include <QByteArray>

#include <cerrno>
#include <unistd.h>

namespace MpegAudio {

namespace {

constexpr qsizetype kSearch = 64 * 1024;
constexpr qsizetype kLongestFrame = 1729 + 4; // Layer II/III at 384 kbit/s and 32 kHz, with padding

struct Header {
    int version = 0; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5 (the header's bits)
    int layer = 0;   // 3 Layer I, 2 Layer II, 1 Layer III (the header's bits)
    int sampleRate = 0;
    int length = 0; // of the whole frame, in bytes
};

// kbit/s by bit-rate index 1 to 14: MPEG-1 Layer I, II, III; MPEG-2/2.5 Layer I, then II and III.
constexpr int kBitrates[5][14] = {
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
constexpr int kSampleRates[3] = {44100, 48000, 32000}; // MPEG-1; halved for MPEG-2, quartered for 2.5

// The header at `at`, or none (length 0) when the bytes are not a valid one.
Header headerAt(const QByteArray& bytes, qsizetype at)
{
    Header header;
    if (at + 4 > bytes.size())
        return header;
    const auto byte = [&](int i) { return uchar(bytes.at(at + i)); };
    const int version = (byte(1) >> 3) & 3;
    const int layer = (byte(1) >> 1) & 3;
    const int bitrateIndex = byte(2) >> 4;
    const int rateIndex = (byte(2) >> 2) & 3;
    // Sync; reserved version, layer, sample rate and emphasis; free or bad bit rate.
    if (byte(0) != 0xff || (byte(1) & 0xe0) != 0xe0 || version == 1 || layer == 0 || rateIndex == 3 ||
        (byte(3) & 3) == 2 || bitrateIndex == 0 || bitrateIndex == 15)
        return header;
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const int bitrate = kBitrates[table][bitrateIndex - 1] * 1000;
    header.sampleRate = kSampleRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int padding = (byte(2) >> 1) & 1;
    if (layer == 3)
        header.length = (12 * bitrate / header.sampleRate + padding) * 4;
    else
        header.length = ((layer == 1 && !mpeg1) ? 72 : 144) * bitrate / header.sampleRate + padding;
    header.version = version;
    header.layer = layer;
    return header;
}

bool framesFollowAt(const QByteArray& bytes, qsizetype at)
{
    const Header first = headerAt(bytes, at);
    for (int count = 0; count < kFramesNeeded; ++count) {
        const Header header = headerAt(bytes, at);
        if (header.length == 0 || header.version != first.version || header.layer != first.layer ||
            header.sampleRate != first.sampleRate)
            return false;
        at += header.length;
    }
    return true;
}

// Where the audio begins: after the ID3v2 tag at the start, with its footer.
qint64 audioStart(int fd)
{
    QByteArray tag(10, '\0');
    if (::pread(fd, tag.data(), 10, 0) != 10 || !tag.startsWith("ID3"))
        return 0;
    qint64 size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (uchar(tag.at(i)) & 0x7f);
    const bool footer = uchar(tag.at(5)) & 0x10;
    return 10 + size + (footer ? 10 : 0);
}

} // namespace

bool holdsFrames(int fd)
{
    QByteArray bytes(kSearch + kFramesNeeded * kLongestFrame, Qt::Uninitialized);
    ssize_t got = -1;
    do
        got = ::pread(fd, bytes.data(), size_t(bytes.size()), audioStart(fd));
    while (got < 0 && errno == EINTR);
    if (got <= 0)
        return false;
    bytes.truncate(got);
    for (qsizetype at = bytes.indexOf('\xff'); at >= 0 && at < kSearch; at = bytes.indexOf('\xff', at + 1)) {
        if (framesFollowAt(bytes, at))
            return true;
    }
    return false;
}

} // namespace MpegAudio
