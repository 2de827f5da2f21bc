#include "engine/FolderFormat.h"

#include "engine/commonold.h"

namespace {

// The track number as the folder format shows it: 7 gives "07", -3 gives "-03".
QString FormatTrack(int track)
{
    const qint64 number = track;
    const QString digits = QString::number(qAbs(number)).rightJustified(2, QLatin1Char('0'));
    return number < 0 ? QLatin1Char('-') + digits : digits;
}

} // namespace

QString OrdinaryFolderName(QString name)
{
    // The folder format is stored without "/" by the dialog that edits it; one
    // edited by hand must not reach past its level either.
    name.remove(QLatin1Char('/'));
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        name.fill(QLatin1Char('_'));
    return name;
}

QStringList FolderLevels(const QString& format, const TagValues& tags)
{
    // Cleaning the track's digits changes nothing; it is formatted directly.
    const QString track = FormatTrack(tags.track);
    const QString title = commonold::CleanName(tags.title);
    const QString album = commonold::CleanName(tags.album);
    QString artist = commonold::CleanName(tags.artist);
    if (artist.isEmpty())
        artist = QStringLiteral("various");

    QString path = format;
    path.replace(QLatin1String("%t"), track);
    path.replace(QLatin1String("%s"), title);
    path.replace(QLatin1String("%al"), album);
    path.replace(QLatin1String("%ar"), artist);
    if (path.isEmpty())
        return {};

    QStringList levels = path.split(QLatin1Char('\\'));
    for (QString& level : levels)
        level = OrdinaryFolderName(level);
    return levels;
}
