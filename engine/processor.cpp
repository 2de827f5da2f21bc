#include "engine/processor.h"

#include "config/SettingsStore.h"
#include "engine/FileInHand.h"
#include "engine/FilingError.h"
#include "engine/FolderFormat.h"
#include "engine/SafeFolder.h"
#include "engine/TagReader.h"
#include "engine/commonold.h"

#include <cerrno>

namespace {

// The tags of one file. The reader lives for this call only, so it is
// released on every way out, before anything is written.
TagValues readTags(int fd)
{
    TagReader reader;
    reader.OpenTagFile(fd);
    TagValues tags;
    tags.track = reader.TrackNumber();
    tags.title = reader.SongTitle();
    tags.album = reader.Album();
    tags.artist = reader.Artist();
    return tags;
}

// Creates the levels under `root` where they are missing and answers the
// deepest folder, ending in "/". An empty level names the folder above it.
QString createLevels(const QString& root, const QStringList& levels)
{
    QString folder = root;
    for (const QString& level : levels) {
        if (!level.isEmpty())
            folder += level + QLatin1Char('/');
    }
    SafeFolder::create(root, folder);
    return folder;
}

// The levels for these tags, created where missing, by the rules of the file
// system that holds the outbox. One that refuses a name (EINVAL) without being
// known for it gets the stricter names on a second try.
QString createFolders(const FilingJob& job, const TagValues& tags)
{
    const bool windows = commonold::RefusesWindowsNames(job.outboxpath);
    try {
        return createLevels(job.outboxpath,
                            FolderLevels(job.folderFormat, tags, windows ? NameRules::Windows : NameRules::Posix));
    } catch (const FilingError& error) {
        if (windows || error.lastDllError() != EINVAL)
            throw;
    }
    return createLevels(job.outboxpath, FolderLevels(job.folderFormat, tags, NameRules::Windows));
}

} // namespace

processor::processor()
{
    loadsettings();
}

void processor::loadsettings()
{
    folderFormat_ = SettingsStore::read(Setting::FileFormat);
}

FilingJob processor::job() const
{
    FilingJob job = base_.job();
    job.folderFormat = folderFormat_;
    return job;
}

MoveResult processor::process(const FilingJob& job, const SafeMove::Progress& progress)
{
    // Opened before the tags are read, and the tags read from that open file,
    // so a file that changes at any time while it is filed stays in the inbox.
    SafeMove move(job.inboxpath + job.currentinfile);
    TagValues tags;
    try {
        if (move.sourceChanged())
            return {};
        FileInHand inHand;
        if (inHand.wasInHandWhenStopped(job.inboxpath, job.currentinfile, move.descriptor()))
            throw FileInHand::readerStopped();
        const FileInHandGuard reading(inHand, job.inboxpath, job.currentinfile, move.descriptor());
        tags = readTags(move.descriptor());
    } catch (const FilingError&) {
        if (move.sourceChanged()) // a writer's half-written file is not a bad file
            return {};
        throw;
    }
    return move.moveTo({job.outboxpath, createFolders(job, tags), job.currentinfile, {}}, progress);
}

void processor::removeLeftovers()
{
    SafeMove::removeLeftovers(outboxpath());
    SafeMove::removeLeftovers(errorspath());
    SafeMove::restoreInterruptedRemovals(inboxpath());
}
