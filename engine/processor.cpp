#include "engine/processor.h"

#include "engine/AlbumFolder.h"
#include "engine/AlbumRecord.h"
#include "engine/FileInHand.h"
#include "engine/FilingError.h"
#include "engine/FittingMove.h"
#include "engine/FolderFormat.h"
#include "engine/Leftovers.h"
#include "engine/SafeFolder.h"
#include "engine/commonold.h"

#include <cerrno>

namespace {

// Creates the levels under `root` where they are missing and answers the
// deepest folder, ending in "/". A level that differs from a folder already
// there only in letter case is that folder, so the first spelling stays. A
// level too long for the file system (an encrypted folder takes fewer than
// 255 bytes) is cut shorter until it is taken, the same way each time, so the
// songs of one album meet in one folder.
QString createLevels(const QString& root, const QStringList& levels, NameRules rules)
{
    QString folder = root;
    for (QString level : levels) {
        if (level.isEmpty())
            continue;
        // A folder of another file system linked into the outbox (a USB stick) has rules of its own.
        if (rules == NameRules::Posix && commonold::RefusesWindowsNames(folder))
            level = FitFolderName(level, NameRules::Windows);
        level = SafeFolder::spellingInUse(root, folder, level);
        for (int maxBytes = kMaxNameBytes;; maxBytes = maxBytes * 3 / 4) {
            try {
                SafeFolder::create(root, folder + level + QLatin1Char('/'));
                break;
            } catch (const FilingError& error) {
                if (error.lastDllError() != ENAMETOOLONG || maxBytes < kShortestNameCut)
                    throw;
                level = FitFolderName(level, rules, maxBytes * 3 / 4);
            }
        }
        folder += level + QLatin1Char('/');
    }
    return folder;
}

} // namespace

// By the rules of the file system that holds the outbox. One that refuses a
// name (EINVAL) without being known for it gets the stricter names on a
// second try.
SafeMove::Destination processor::createDestination(const FilingJob& job, const TagValues& tags)
{
    const bool windows = commonold::RefusesWindowsNames(job.outboxpath);
    const NameRules rules = windows ? NameRules::Windows : NameRules::Posix;
    FiledPath filed = processor::destination(job, tags, rules);
    try {
        return {job.outboxpath, createLevels(job.outboxpath, filed.levels, rules), filed.name, {}};
    } catch (const FilingError& error) {
        if (windows || error.lastDllError() != EINVAL)
            throw;
    }
    filed = processor::destination(job, tags, NameRules::Windows);
    return {job.outboxpath, createLevels(job.outboxpath, filed.levels, NameRules::Windows), filed.name, {}};
}

void processor::setFormats(const QString& folderFormat, const QString& fileNameFormat)
{
    folderFormat_ = folderFormat;
    fileNameFormat_ = fileNameFormat;
}

FilingJob processor::job() const
{
    FilingJob job = base_.job();
    job.folderFormat = folderFormat_;
    job.fileNameFormat = fileNameFormat_;
    return job;
}

FiledPath processor::destination(const FilingJob& job, const TagValues& tags, NameRules rules)
{
    // A song of an album folder is filed under its own name, without the folder.
    return FiledPathFor(job.folderFormat, job.fileNameFormat, tags, job.currentinfile.section(QLatin1Char('/'), -1),
                        rules);
}

MoveResult processor::process(const FilingJob& job, const SafeMove::Progress& progress)
{
    // Opened before the tags are read, and the tags read from that open file,
    // so a file that changes at any time while it is filed stays in the inbox.
    SafeMove move(job.inboxpath, job.currentinfile);
    TagValues tags;
    try {
        if (move.sourceChanged())
            return {};
        tags = FileInHand::readTags(job.inboxpath, job.currentinfile, move.descriptor());
    } catch (const FilingError&) {
        if (move.sourceChanged()) // a writer's half-written file is not a bad file
            return {};
        throw;
    }
    const MoveResult moved = moveUnderFittingName(move, createDestination(job, tags), progress);
    if (moved.sourceRemoved && job.currentinfile.contains(QLatin1Char('/')))
        AlbumRecord::noteTaken(job.inboxpath, job.currentinfile, moved.folder, moved.name);
    return moved;
}

void processor::removeLeftovers()
{
    Leftovers::remove(outboxpath());
    Leftovers::remove(errorspath());
    Leftovers::remove(inboxpath()); // of a file being put back
    LeasedSource::restoreInterruptedRemovals(inboxpath());
}
