#include "engine/FolderFormat.h"

#include "engine/FileName.h"
#include "engine/commonold.h"

namespace {

// The track number as the folder format shows it: 7 gives "07", -3 gives "-03";
// none (0) gives nothing, so its level is left out.
QString FormatTrack(int track)
{
    if (track == 0)
        return {};
    const qint64 number = track;
    const QString digits = QString::number(qAbs(number)).rightJustified(2, QLatin1Char('0'));
    return number < 0 ? QLatin1Char('-') + digits : digits;
}

// Tag text as one name: composed (NFC), so that "é" typed on one system and
// "e" with a combining accent from another make one folder, cleaned, and
// without the white space around it, which no file manager shows.
QString Clean(const QString& text)
{
    return commonold::CleanName(text.normalized(QString::NormalizationForm_C)).trimmed();
}

QString Artist(const TagValues& tags)
{
    const QString artist = Clean(tags.artist);
    return artist.isEmpty() ? QStringLiteral("various") : artist;
}

QString AlbumArtist(const TagValues& tags)
{
    const QString albumArtist = Clean(tags.albumArtist);
    if (!albumArtist.isEmpty())
        return albumArtist;
    return tags.compilation ? QStringLiteral("Various Artists") : Artist(tags);
}

// Empty for a set of one disc: a total of 1, or no total and disc 1, or no disc.
QString Disc(const TagValues& tags)
{
    if (tags.disc <= 0 || tags.discTotal == 1 || (tags.discTotal == 0 && tags.disc == 1))
        return {};
    return QString::number(tags.disc);
}

// The first four digits in a row: "2003-05-01" and "2003" give 2003.
QString Year(const TagValues& tags)
{
    int run = 0;
    for (qsizetype at = 0; at < tags.date.size(); ++at) {
        run = tags.date.at(at) >= QLatin1Char('0') && tags.date.at(at) <= QLatin1Char('9') ? run + 1 : 0;
        if (run == 4)
            return tags.date.mid(at - 3, 4);
    }
    return {};
}

const FormatToken kTokens[] = {
    {QLatin1StringView("%ar"), "Artist", Artist},
    {QLatin1StringView("%al"), "Album", [](const TagValues& tags) { return Clean(tags.album); }},
    {QLatin1StringView("%s"), "Song", [](const TagValues& tags) { return Clean(tags.title); }},
    {QLatin1StringView("%t"), "Track Number", [](const TagValues& tags) { return FormatTrack(tags.track); }},
    {QLatin1StringView("%aa"), "Album Artist", AlbumArtist},
    {QLatin1StringView("%d"), "Disc Number", Disc},
    {QLatin1StringView("%y"), "Year", Year},
    {QLatin1StringView("%g"), "Genre", [](const TagValues& tags) { return Clean(tags.genre); }},
};

const FormatToken* TokenAt(QStringView format, qsizetype at)
{
    for (const FormatToken& token : kTokens) {
        if (format.sliced(at).startsWith(token.letters))
            return &token;
    }
    return nullptr;
}

// A part of the format with its tokens replaced, scanning once from the left:
// a value is never read as a token.
struct Replaced {
    QString text;
    bool hasTokens = false;
    bool someTokenEmpty = false;
    bool everyTokenEmpty = true;
};

// The format's parts (split at `separator` when given, the parts of the format
// itself, never of a value) with their tokens replaced.
QList<Replaced> ReplaceTokens(QStringView format, const TagValues& tags, QChar separator = QChar())
{
    QList<Replaced> parts(1);
    for (qsizetype at = 0; at < format.size();) {
        if (!separator.isNull() && format.at(at) == separator) {
            parts.append(Replaced());
            ++at;
        } else if (const FormatToken* token = TokenAt(format, at)) {
            const QString value = token->value(tags);
            Replaced& part = parts.last();
            part.text += value;
            part.hasTokens = true;
            part.someTokenEmpty |= value.isEmpty();
            part.everyTokenEmpty &= value.isEmpty();
            at += token->letters.size();
        } else {
            parts.last().text += format.at(at++);
        }
    }
    return parts;
}

bool RefusedByWindows(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f || QStringView(u"\"*/:<>?\\|").contains(c);
}

} // namespace

QString CutToBytes(const QString& text, int maxBytes)
{
    QByteArray bytes = FileName::encode(text);
    if (bytes.size() <= maxBytes)
        return text;
    // Back off to the first byte of a character: UTF-8 continuation bytes are 10xxxxxx.
    qsizetype cut = maxBytes;
    while (cut > 0 && (uchar(bytes.at(cut)) & 0xc0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return FileName::decode(bytes);
}

QString FitFolderName(QString name, NameRules rules, int maxBytes)
{
    // The folder format is stored without "/" by the dialog that edits it; one
    // edited by hand must not reach past its level either.
    name.remove(QLatin1Char('/'));
    name = CutToBytes(name, maxBytes);
    if (rules == NameRules::Windows) {
        for (QChar& c : name) {
            if (RefusedByWindows(c))
                c = QLatin1Char('_');
        }
        for (qsizetype at = name.size() - 1; at >= 0 && (name[at] == QLatin1Char('.') || name[at] == QLatin1Char(' '));
             --at)
            name[at] = QLatin1Char('_');
    }
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        name.fill(QLatin1Char('_'));
    // A leading dot would hide the folder, and could reach the program's own hidden folders.
    if (name.startsWith(QLatin1Char('.')))
        name[0] = QLatin1Char('_');
    return name;
}

QString TokenHelp()
{
    QStringList entries;
    for (const FormatToken& token : kTokens)
        entries << QString(token.letters + QStringLiteral(" = ") + QLatin1StringView(token.meaning))
                       .replace(QLatin1Char(' '), QChar::Nbsp); // a line breaks between entries only
    return entries.join(QStringLiteral("  "));
}

QStringList UnknownTokens(const QString& format)
{
    QStringList unknown;
    for (qsizetype at = 0; at < format.size(); ++at) {
        if (const FormatToken* token = TokenAt(format, at)) {
            at += token->letters.size() - 1;
        } else if (format.at(at) == QLatin1Char('%')) {
            qsizetype end = at + 1;
            while (end < format.size() && format.at(end).isLetter())
                ++end;
            if (end > at + 1 && !unknown.contains(format.mid(at, end - at)))
                unknown << format.mid(at, end - at);
            at = end - 1;
        }
    }
    return unknown;
}

namespace {

// `stem` fitted as a level is, cut so that it and `extension` stay within `maxBytes`.
QString FitStem(const QString& stem, const QString& extension, NameRules rules, int maxBytes)
{
    return FitFolderName(CutToBytes(stem, maxBytes - int(FileName::encode(extension).size())), rules) + extension;
}

} // namespace

QString FitFileName(const QString& name, NameRules rules, int maxBytes)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    return FitStem(name.left(name.size() - extension.size()), extension, rules, maxBytes);
}

QString FiledPath::path() const
{
    return (QStringList(levels) << name).join(QLatin1Char('/'));
}

FiledPath FiledPathFor(const QString& folderFormat, const QString& fileNameFormat, const TagValues& tags,
                       const QString& inboxName, NameRules rules)
{
    // The inbox name came from another file system: it is fitted to this one's rules too.
    FiledPath filed{{}, rules == NameRules::Posix ? inboxName : FitFileName(inboxName, rules, kMaxNameBytes)};
    for (const Replaced& level : ReplaceTokens(folderFormat, tags, QLatin1Char('\\'))) {
        const QString fitted = FitFolderName(level.text.trimmed(), rules);
        if (!fitted.isEmpty() && !(level.hasTokens && level.everyTokenEmpty))
            filed.levels << fitted;
    }
    if (fileNameFormat.isEmpty())
        return filed;
    const Replaced name = ReplaceTokens(fileNameFormat, tags).constFirst();
    const QString stem = commonold::CleanName(name.text).trimmed();
    if (name.someTokenEmpty || stem.isEmpty())
        return filed;
    const qsizetype dot = inboxName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? inboxName.mid(dot) : QString();
    filed.name = FitStem(stem, extension, rules, kMaxNameBytes);
    return filed;
}

TagValues ExampleSong()
{
    TagValues song;
    song.artist = QStringLiteral("Example Band");
    song.album = QStringLiteral("First Light");
    song.title = QStringLiteral("Intro");
    song.track = 3;
    song.disc = 1;
    song.discTotal = 2;
    song.date = QStringLiteral("2004-05-01");
    song.genre = QStringLiteral("Rock");
    return song;
}

QString LogNameFor(const QString& fileName)
{
    return FileName::decode(FileName::withEnding(FileName::encode(fileName), QByteArrayLiteral(".txt")));
}

QString CleanedFolderFormat(QString format)
{
    QStringList levels = format.replace(QLatin1Char('/'), QLatin1Char('\\')).split(QLatin1Char('\\'));
    for (QString& level : levels)
        level = commonold::CleanName(level);
    return levels.join(QLatin1Char('\\'));
}
