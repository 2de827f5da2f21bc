#include "engine/Playlist.h"

#include "engine/FileName.h"

#include <QDir>
#include <QRegularExpression>

namespace {

// A cue sheet's "FILE" line: its name quoted or not, then the file type.
const QRegularExpression kCueFile(QStringLiteral(R"re(^(\s*FILE\s+)(?:"([^"]*)"|(\S+))(\s+\S+\s*)$)re"),
                                  QRegularExpression::CaseInsensitiveOption);

} // namespace

bool Playlist::isPlaylist(const QString& name)
{
    for (const char* extension : {".m3u", ".m3u8", ".cue"}) {
        if (name.endsWith(QLatin1String(extension), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QByteArray Playlist::rewritten(const QByteArray& bytes, const QString& name, const QString& from, const QString& to,
                               const QHash<QString, QString>& filed)
{
    const bool cue = name.endsWith(QLatin1String(".cue"), Qt::CaseInsensitive);
    // The new place of the song an entry names, relative to `to`; empty for any other entry.
    const auto moved = [&](QString entry) {
        entry.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (entry.isEmpty() || QDir::isAbsolutePath(entry))
            return QString();
        const auto song = filed.constFind(QDir::cleanPath(from + QLatin1Char('/') + entry));
        return song == filed.cend() ? QString() : QDir(to).relativeFilePath(*song);
    };
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray& line : lines) {
        const bool carriage = line.endsWith('\r');
        const QString text = FileName::decode(carriage ? line.chopped(1) : line);
        QString changed;
        if (!cue && !text.startsWith(QLatin1Char('#'))) {
            changed = moved(text);
        } else if (const QRegularExpressionMatch file = kCueFile.match(text); cue && file.hasMatch()) {
            const QString place = moved(file.captured(2).isEmpty() ? file.captured(3) : file.captured(2));
            if (!place.isEmpty())
                changed = file.captured(1) + QLatin1Char('"') + place + QLatin1Char('"') + file.captured(4);
        }
        if (!changed.isEmpty())
            line = FileName::encode(changed) + (carriage ? "\r" : "");
    }
    return lines.join('\n');
}
