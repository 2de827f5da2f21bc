#include "engine/FolderFormat.h"

#include "engine/FileName.h"
#include "engine/commonold.h"

namespace {

// The track number as the folder format shows it: 7 gives "07", -3 gives "-03".
QString FormatTrack(int track)
{
    const qint64 number = track;
    const QString digits = QString::number(qAbs(number)).rightJustified(2, QLatin1Char('0'));
    return number < 0 ? QLatin1Char('-') + digits : digits;
}

// The format with each token replaced by its value, scanning once from the left.
QString ReplaceTokens(const QString& format, const std::pair<QLatin1String, QString> (&tokens)[4])
{
    QString path;
    for (qsizetype at = 0; at < format.size();) {
        const auto token = std::find_if(std::begin(tokens), std::end(tokens), [&](const auto& entry) {
            return QStringView(format).sliced(at).startsWith(entry.first);
        });
        if (token == std::end(tokens)) {
            path += format.at(at++);
        } else {
            path += token->second;
            at += token->first.size();
        }
    }
    return path;
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

QString FitFolderName(QString name, NameRules rules)
{
    // The folder format is stored without "/" by the dialog that edits it; one
    // edited by hand must not reach past its level either.
    name.remove(QLatin1Char('/'));
    name = CutToBytes(name, kMaxNameBytes);
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

QStringList FolderLevels(const QString& format, const TagValues& tags, NameRules rules)
{
    QString artist = commonold::CleanName(tags.artist);
    if (artist.isEmpty())
        artist = QStringLiteral("various");
    // Cleaning the track's digits changes nothing; it is formatted directly.
    const std::pair<QLatin1String, QString> tokens[4] = {{QLatin1String("%t"), FormatTrack(tags.track)},
                                                         {QLatin1String("%s"), commonold::CleanName(tags.title)},
                                                         {QLatin1String("%al"), commonold::CleanName(tags.album)},
                                                         {QLatin1String("%ar"), artist}};
    const QString path = ReplaceTokens(format, tokens);
    if (path.isEmpty())
        return {};
    QStringList levels = path.split(QLatin1Char('\\'));
    for (QString& level : levels)
        level = FitFolderName(level, rules);
    return levels;
}

QString LogNameFor(const QString& fileName)
{
    return FileName::decode(FileName::withEnding(FileName::encode(fileName), QByteArrayLiteral(".txt")));
}
