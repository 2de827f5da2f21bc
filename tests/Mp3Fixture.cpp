#include "Mp3Fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

namespace Mp3Fixture {

namespace {

// Big-endian, in bytes of `bits` bits: 8 for plain sizes, 7 for the synchsafe sizes of the tag and ID3v2.4 frames.
QByteArray number(quint32 value, int width, int bits = 8)
{
    QByteArray bytes(width, '\0');
    for (int i = width - 1; i >= 0; --i, value >>= bits)
        bytes[i] = char(value & ((1u << bits) - 1));
    return bytes;
}

// The encoding byte and the encoded text of one text frame.
QByteArray textBody(const QString& text, Tag kind)
{
    if (kind == Tag::Id3v23Utf16 || (kind == Tag::Id3v23 && QString::fromLatin1(text.toLatin1()) != text))
        return '\x01' + QByteArray(QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom)(text));
    if (kind == Tag::Id3v24Utf8)
        return '\x03' + text.toUtf8();
    return '\0' + text.toLatin1();
}

QByteArray frame(const QByteArray& id, const QString& text, Tag kind)
{
    if (text.isEmpty())
        return {};
    const QByteArray body = textBody(text, kind);
    if (kind == Tag::Id3v22)
        return id + number(body.size(), 3) + body;
    return id + number(body.size(), 4, kind == Tag::Id3v24Utf8 ? 7 : 8) + QByteArray(2, '\0') + body;
}

QByteArray id3v2(const Tags& tags, Tag kind)
{
    const bool v22 = kind == Tag::Id3v22;
    const QByteArray frames =
        frame(v22 ? "TP1" : "TPE1", tags.artist, kind) + frame(v22 ? "TAL" : "TALB", tags.album, kind) +
        frame(v22 ? "TT2" : "TIT2", tags.title, kind) + frame(v22 ? "TRK" : "TRCK", tags.track, kind) + [&] {
            QByteArray more;
            for (const QString& entry : tags.more)
                more += frame(entry.section('=', 0, 0).toLatin1(), entry.section('=', 1), kind);
            return more;
        }();
    const char major = v22 ? 2 : kind == Tag::Id3v24Utf8 ? 4 : 3;
    return QByteArray("ID3") + major + QByteArray(2, '\0') + number(frames.size(), 4, 7) + frames;
}

// ID3v1.1: the track in the last byte of the comment field.
QByteArray id3v1(const Tags& tags)
{
    const auto fixed = [](const QString& text) { return text.toLatin1().left(30).leftJustified(30, '\0'); };
    return "TAG" + fixed(tags.title) + fixed(tags.artist) + fixed(tags.album) + QByteArray(33, '\0') +
           char(tags.track.toInt()) + char(255);
}

// `frames` MPEG frames of 417 bytes each (128 kbit/s, 44.1 kHz, no padding).
QByteArray audioFrames(int frames)
{
    // Sync, MPEG-1 Layer III without CRC; 128 kbit/s, 44.1 kHz; joint stereo.
    return (QByteArray("\xff\xfb\x90\x64", 4) + QByteArray(417 - 4, '\0')).repeated(frames);
}

} // namespace

QByteArray build(const Tags& tags, Tag kind, int frames)
{
    if (kind == Tag::None)
        return audioFrames(frames);
    if (kind == Tag::Id3v1)
        return audioFrames(frames) + id3v1(tags);
    return id3v2(tags, kind) + audioFrames(frames);
}

bool write(const QString& path, const QString& artist, const QString& album, const QString& title, int track, Tag kind)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    const QByteArray bytes = build({artist, album, title, track == 0 ? QString() : QString::number(track)}, kind);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool writeLarge(const QString& path, const Tags& tags, qint64 size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    const QByteArray head = build(tags);
    const QByteArray tail = audioFrames(8);
    const QByteArray zeros(8 << 20, '\0');
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(head) != head.size())
        return false;
    for (qint64 left = size - head.size() - tail.size(); left > 0; left -= zeros.size()) {
        if (file.write(zeros.constData(), qMin<qint64>(left, zeros.size())) <= 0)
            return false;
    }
    return file.write(tail) == tail.size();
}

QByteArray nestedChapters(int levels, const char* format)
{
    const QByteArray inner = frame("TIT2", "Deep", Tag::Id3v23);
    const QByteArray chapter = QByteArray("c\0", 2) + QByteArray(16, '\0');
    QByteArray tag = frame("TPE1", "Nest", Tag::Id3v23) + frame("TALB", "Nest", Tag::Id3v23);
    for (int level = levels; level > 0; --level) // outermost first: each holds the rest
        tag += "CHAP" + number(quint32(inner.size() + level * (10 + chapter.size()) - 10), 4) + QByteArray(2, '\0') +
               chapter;
    tag += inner;
    tag = "ID3\x03" + QByteArray(2, '\0') + number(quint32(tag.size()), 4, 7) + tag;
    // One second of 8 kHz audio, described without its samples.
    const QByteArray streamInfo = number(4096, 2) + number(4096, 2) + QByteArray(6, '\0') +
                                  number((8000u << 12) | (0u << 9) | (15u << 4), 4) + number(8000, 4) +
                                  QByteArray(16, '\0');
    if (qstrcmp(format, "flac") == 0) // the tag in front of the stream, as some taggers write it
        return tag + "fLaC" + number(0x80000000u | quint32(streamInfo.size()), 4) + streamInfo;
    if (qstrcmp(format, "aiff") == 0) {                          // the tag in an "ID3 " chunk
        const QByteArray rate("\x40\x0b\xfa\0\0\0\0\0\0\0", 10); // 8000 as an 80-bit float
        const QByteArray chunks = "COMM" + number(18, 4) + number(1, 2) + number(8000, 4) + number(16, 2) + rate +
                                  "SSND" + number(8, 4) + QByteArray(8, '\0') + "ID3 " + number(tag.size(), 4) + tag +
                                  QByteArray(tag.size() % 2, '\0');
        return "FORM" + number(quint32(chunks.size() + 4), 4) + "AIFF" + chunks;
    }
    return tag + audioFrames(8);
}

QByteArray nestedAtoms(int levels)
{
    QByteArray atoms = number(20, 4) + "ftypM4A " + number(0, 4) + "M4A ";
    for (int level = 0; level < levels; ++level)
        atoms += number(quint32(8 * (levels - level)), 4) + "moov";
    return atoms;
}

} // namespace Mp3Fixture
