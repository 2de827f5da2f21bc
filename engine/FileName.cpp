#include "engine/FileName.h"

#include <algorithm>

namespace {

constexpr char16_t kFirstEscape = 0xDC80;
constexpr char16_t kLastEscape = 0xDCFF;

bool isEscapedByte(char16_t unit)
{
    return unit >= kFirstEscape && unit <= kLastEscape;
}

// The code point of the UTF-8 sequence at `at`, and its length; a length of 0
// when the bytes there are not valid UTF-8 (overlong forms and surrogates included).
char32_t decodeOne(const uchar* bytes, qsizetype size, qsizetype at, int& length)
{
    const uchar lead = bytes[at];
    char32_t code = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, smallest = 0x10000;
    } else {
        length = 0;
        return 0;
    }
    if (at + length > size)
        length = 0;
    for (int i = 1; i < length; ++i) {
        if ((bytes[at + i] & 0xC0) != 0x80)
            length = 0;
        else
            code = (code << 6) | (bytes[at + i] & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        length = 0;
    return code;
}

void appendUtf8(QByteArray& out, char32_t code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

} // namespace

namespace FileName {

QString decode(QByteArrayView bytes)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype plain = 0;
    while (plain < size && data[plain] < 0x80)
        ++plain;
    if (plain == size) // the usual case, and the cheap one
        return QString::fromLatin1(bytes);
    QString name = QString::fromLatin1(bytes.first(plain));
    for (qsizetype at = plain; at < size;) {
        int length = 1;
        const char32_t code = data[at] < 0x80 ? data[at] : decodeOne(data, size, at, length);
        if (length == 0) {
            name += QChar(char16_t(0xDC00 + data[at]));
            ++at;
            continue;
        }
        if (code >= 0x10000) {
            name += QChar(QChar::highSurrogate(code));
            name += QChar(QChar::lowSurrogate(code));
        } else {
            name += QChar(char16_t(code));
        }
        at += length;
    }
    return name;
}

QByteArray encode(QStringView name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, name[i + 1].unicode()));
            ++i;
        } else if (isEscapedByte(unit)) {
            bytes += char(unit - 0xDC00);
        } else {
            appendUtf8(bytes, QChar::isSurrogate(unit) ? char32_t(QChar::ReplacementCharacter) : char32_t(unit));
        }
    }
    return bytes;
}

QString forDisplay(QString name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isEscapedByte(name[i].unicode()) && (i == 0 || !name[i - 1].isHighSurrogate()))
            name[i] = QChar::ReplacementCharacter;
    }
    return name;
}

} // namespace FileName

QByteArray FileName::withEnding(const QByteArray& name, const QByteArray& ending)
{
    constexpr qsizetype kMostBytes = 255;
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray extension = dot > 0 ? name.mid(dot) : QByteArray();
    QByteArray stem = name.left(name.size() - extension.size());
    QByteArray mark;
    if (stem.endsWith(')')) {
        const qsizetype open = stem.lastIndexOf(" (");
        const QByteArray digits = open < 0 ? QByteArray() : stem.mid(open + 2, stem.size() - open - 3);
        if (!digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            mark = stem.mid(open);
    }
    stem.chop(mark.size());
    qsizetype keep = qMax<qsizetype>(0, kMostBytes - mark.size() - extension.size() - ending.size());
    if (keep < stem.size()) {
        while (keep > 0 && (uchar(stem.at(keep)) & 0xC0) == 0x80)
            --keep;
        stem.truncate(keep);
    }
    return stem + mark + extension + ending;
}
