#include "engine/OutboxRefile.h"

#include "engine/AlbumFolder.h"
#include "engine/AudioFormats.h"
#include "engine/FileInHand.h"
#include "engine/FilingError.h"
#include "engine/FittingMove.h"
#include "engine/History.h"
#include "engine/SafeFolder.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QMap>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool isHidden(const QString& relative)
{
    for (const QString& level : relative.split(QLatin1Char('/')))
        if (level.startsWith(QLatin1Char('.')))
            return true;
    return false;
}

// "A/B/" of "A/B/c.mp3"; "" in the outbox root.
QString folderOf(const QString& relative)
{
    return relative.left(relative.lastIndexOf(QLatin1Char('/')) + 1);
}

QString nameOf(const QString& relative)
{
    return relative.section(QLatin1Char('/'), -1);
}

QString stemOf(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

} // namespace

OutboxRefile::OutboxRefile(const QString& outbox, const QString& folderFormat, const QString& fileNameFormat)
    : outbox_(outbox), folderFormat_(folderFormat), fileNameFormat_(fileNameFormat)
{
}

// Every song under the outbox, by folder, following no link and leaving
// hidden names (the program's own partial copies among them) alone.
QMap<QString, QStringList> OutboxRefile::songsByFolder() const
{
    QMap<QString, QStringList> songs;
    QDirIterator found(outbox_, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (found.hasNext()) {
        const QString relative = found.next().mid(outbox_.size());
        if (!isHidden(relative) && AudioFormats::of(relative))
            songs[folderOf(relative)] << relative;
    }
    for (QStringList& folder : songs)
        folder.sort();
    return songs;
}

FilingJob OutboxRefile::jobFor(const QString& path) const
{
    FilingJob job;
    job.inboxpath = job.outboxpath = outbox_;
    job.currentinfile = path;
    job.folderFormat = folderFormat_;
    job.fileNameFormat = fileNameFormat_;
    return job;
}

// The song stays where it is when the tags put it in its own folder under
// its own name (as the file system takes it).
bool OutboxRefile::staysAt(const QString& path, const QString& folder, const QString& name) const
{
    return folder == outbox_ + folderOf(path) &&
           (name == nameOf(path) || FitFileName(name, NameRules::Windows, kMaxNameBytes) == nameOf(path));
}

void OutboxRefile::record(History& history, const Moved& move)
{
    if (!move.failure.isEmpty())
        history.recordFailure(move.from, move.failure);
    else
        history.recordMove(move.copy ? QStringLiteral("copied") : QStringLiteral("refiled"), move.from, move.from,
                           move.moved);
}

int OutboxRefile::songCount() const
{
    int count = 0;
    for (const QStringList& folder : songsByFolder())
        count += int(folder.size());
    return count;
}

int OutboxRefile::countMoves(const GoOn& goOn) const
{
    const NameRules rules = commonold::RefusesWindowsNames(outbox_) ? NameRules::Windows : NameRules::Posix;
    int moves = 0;
    for (const QStringList& folder : songsByFolder()) {
        for (const QString& path : folder) {
            if (goOn && !goOn())
                return moves;
            try {
                SafeMove song(outbox_, path);
                const FiledPath filed =
                    processor::destination(jobFor(path), FileInHand::readTags(outbox_, path, song.descriptor()), rules);
                QString place = outbox_;
                for (const QString& level : filed.levels)
                    if (!level.isEmpty())
                        place += SafeFolder::spellingInUse(outbox_, place, level) + QLatin1Char('/');
                moves += !staysAt(path, place, filed.name);
            } catch (const std::exception&) {
                // a song that cannot be read is not moved either
            }
        }
    }
    return moves;
}

bool OutboxRefile::run(const Told& told, const GoOn& goOn, const QHash<QString, QString>& movedBefore)
{
    QMap<QString, QStringList> songs = songsByFolder();
    QHash<QString, QHash<QString, QString>> wentBefore; // by folder: a song's old name, and where it went
    for (auto move = movedBefore.cbegin(); move != movedBefore.cend(); ++move) {
        const QString from = move.key().mid(outbox_.size());
        if (move.key().startsWith(outbox_) && AudioFormats::of(from) && QFileInfo::exists(*move)) {
            wentBefore[folderOf(from)].insert(nameOf(from), *move);
            songs[folderOf(from)]; // its companions may still wait
        }
    }
    for (auto folder = songs.cbegin(); folder != songs.cend(); ++folder) {
        QHash<QString, QString> went = wentBefore.value(folder.key()); // a song's old name, and where it went
        for (const QString& path : *folder) {
            if (goOn && !goOn())
                return false;
            moveSong(path, went, told);
        }
        if (!went.isEmpty() && !holdsSongs(folder.key())) {
            moveCompanions(folder.key(), went, told);
            removeEmptied(folder.key());
        }
    }
    return true;
}

// Opened before its tags are read, and read from that open file, so a song
// that changes while it is moved stays where it was.
void OutboxRefile::moveSong(const QString& path, QHash<QString, QString>& went, const Told& told)
{
    Moved result{outbox_ + path, {}, {}, false};
    try {
        SafeMove move(outbox_, path);
        if (move.sourceChanged())
            return;
        const TagValues tags = FileInHand::readTags(outbox_, path, move.descriptor());
        SafeMove::Destination to = processor::createDestination(jobFor(path), tags);
        to.underSource = true;
        if (staysAt(path, to.folder, to.name))
            return;
        result.moved = moveUnderFittingName(move, to);
        if (result.moved.sourceRemoved)
            went.insert(nameOf(path), result.moved.folder + result.moved.name);
    } catch (const std::exception& failure) {
        result.failure = FilingError::describe(failure);
    }
    told(result);
}

bool OutboxRefile::holdsSongs(const QString& folder) const
{
    const QStringList names = QDir(outbox_ + folder).entryList(QDir::Files | QDir::NoSymLinks);
    return std::any_of(names.cbegin(), names.cend(), [](const QString& name) { return AudioFormats::of(name); });
}

// As the album folders of the inbox have it: a picture goes beside every
// folder the songs went to (copied into each but the last), a lyrics file
// beside its song under its new name, a cue sheet, log or playlist to the
// nearest folder that holds all the songs.
void OutboxRefile::moveCompanions(const QString& folder, const QHash<QString, QString>& went, const Told& told)
{
    QStringList folders;
    for (const QString& to : went)
        if (!folders.contains(folderOf(to)))
            folders << folderOf(to);
    folders.sort();
    QString common = folders.first();
    for (const QString& other : folders)
        while (!other.startsWith(common))
            common = folderOf(common.chopped(1));
    for (const QString& name : QDir(outbox_ + folder).entryList(QDir::Files | QDir::NoSymLinks)) {
        if (!AlbumFolder::followsSongs(name))
            continue;
        QList<SafeMove::Destination> places;
        for (auto song = went.cbegin(); song != went.cend() && places.isEmpty(); ++song)
            if (name.endsWith(QLatin1String(".lrc"), Qt::CaseInsensitive) && stemOf(song.key()) == stemOf(name))
                places << SafeMove::Destination{
                    outbox_, folderOf(*song), stemOf(nameOf(*song)) + QStringLiteral(".lrc"), {}};
        if (places.isEmpty() && AlbumFolder::isPicture(name))
            for (const QString& to : folders)
                places << SafeMove::Destination{outbox_, to, name, {}, to != folders.last()};
        if (places.isEmpty())
            places << SafeMove::Destination{outbox_, common, name, {}};
        for (SafeMove::Destination& place : places) {
            if (place.folder == outbox_ + folder && place.name == name)
                continue; // where it is already
            place.underSource = true;
            Moved result{outbox_ + folder + name, {}, {}, place.keepSource};
            try {
                SafeMove move(outbox_, folder + name);
                result.moved = moveUnderFittingName(move, place);
            } catch (const std::exception& failure) {
                result.failure = FilingError::describe(failure);
            }
            told(result);
        }
    }
}

// Each level that is empty now goes, from the deepest up, the outbox itself
// never; each is reached from the one above it, following no link.
void OutboxRefile::removeEmptied(QString folder) const
{
    while (!folder.isEmpty()) {
        folder.chop(1);
        const QString parent = folderOf(folder);
        try {
            const int parentFd = SafeFolder::open(outbox_, outbox_ + parent);
            const bool removed = ::unlinkat(parentFd, QFile::encodeName(nameOf(folder)).constData(), AT_REMOVEDIR) == 0;
            ::close(parentFd);
            if (!removed)
                return;
        } catch (const std::exception&) {
            return;
        }
        folder = parent;
    }
}
