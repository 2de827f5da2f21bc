#include "Mp3Fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

namespace Mp3Fixture {

namespace {

constexpr int kFrameLength = 417; // 144 * 128000 / 44100

// Four 7-bit bytes, as ID3v2 stores tag sizes (and v2.4 frame sizes).
QByteArray synchsafe(quint32 size)
{
    QByteArray bytes(4, '\0');
    for (int i = 3; i >= 0; --i, size >>= 7)
        bytes[i] = char(size & 0x7f);
    return bytes;
}

QByteArray bigEndian(quint32 value, int width)
{
    QByteArray bytes(width, '\0');
    for (int i = width - 1; i >= 0; --i, value >>= 8)
        bytes[i] = char(value & 0xff);
    return bytes;
}

bool fitsLatin1(const Tags& tags)
{
    for (const QString& text : {tags.artist, tags.album, tags.title, tags.track})
        for (const QChar c : text)
            if (c.unicode() > 0xff)
                return false;
    return true;
}

// The encoding byte and the encoded text of one text frame.
QByteArray textBody(const QString& text, Tag kind)
{
    switch (kind) {
    case Tag::Id3v23Utf16: {
        QStringEncoder encoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        return QByteArray(1, '\x01') + QByteArray(encoder(text));
    }
    case Tag::Id3v24Utf8:
        return QByteArray(1, '\x03') + text.toUtf8();
    default:
        return QByteArray(1, '\0') + text.toLatin1();
    }
}

QByteArray frame(const char* id, const QString& text, Tag kind)
{
    if (text.isEmpty())
        return {};
    const QByteArray body = textBody(text, kind);
    if (kind == Tag::Id3v22)
        return QByteArray(id) + bigEndian(body.size(), 3) + body;
    const QByteArray size = kind == Tag::Id3v24Utf8 ? synchsafe(body.size()) : bigEndian(body.size(), 4);
    return QByteArray(id) + size + QByteArray(2, '\0') + body;
}

QByteArray id3v2(const Tags& tags, Tag kind)
{
    const bool v22 = kind == Tag::Id3v22;
    const QByteArray frames =
        frame(v22 ? "TP1" : "TPE1", tags.artist, kind) + frame(v22 ? "TAL" : "TALB", tags.album, kind) +
        frame(v22 ? "TT2" : "TIT2", tags.title, kind) + frame(v22 ? "TRK" : "TRCK", tags.track, kind);
    const char major = v22 ? 2 : kind == Tag::Id3v24Utf8 ? 4 : 3;
    return QByteArray("ID3") + major + QByteArray(2, '\0') + synchsafe(frames.size()) + frames;
}

QByteArray fixed(const QString& text, int width)
{
    return text.toLatin1().left(width).leftJustified(width, '\0');
}

// ID3v1.1: the track in the last byte of the comment field.
QByteArray id3v1(const Tags& tags)
{
    return QByteArray("TAG") + fixed(tags.title, 30) + fixed(tags.artist, 30) + fixed(tags.album, 30) +
           QByteArray(4, '\0') + QByteArray(28, '\0') + '\0' + char(tags.track.toInt()) + char(255);
}

} // namespace

QByteArray audioFrames(int frames)
{
    QByteArray frameBytes(kFrameLength, '\0');
    // Sync, MPEG-1 Layer III without CRC; 128 kbit/s, 44.1 kHz; joint stereo.
    frameBytes[0] = char(0xff);
    frameBytes[1] = char(0xfb);
    frameBytes[2] = char(0x90);
    frameBytes[3] = char(0x64);
    return frameBytes.repeated(frames);
}

QByteArray build(const Tags& tags, Tag kind, int frames)
{
    if (kind == Tag::Id3v23)
        kind = fitsLatin1(tags) ? Tag::Id3v23Latin1 : Tag::Id3v23Utf16;
    switch (kind) {
    case Tag::None:
        return audioFrames(frames);
    case Tag::Id3v1:
        return audioFrames(frames) + id3v1(tags);
    default:
        return id3v2(tags, kind) + audioFrames(frames);
    }
}

bool write(const QString& path, const Tags& tags, Tag kind, int frames)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    const QByteArray bytes = build(tags, kind, frames);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool write(const QString& path, const QString& artist, const QString& album, const QString& title, int track, Tag kind)
{
    return write(path, Tags{artist, album, title, track == 0 ? QString() : QString::number(track)}, kind);
}

} // namespace Mp3Fixture
