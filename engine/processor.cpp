#include "engine/processor.h"

#include "config/SettingsStore.h"
#include "engine/FilingError.h"
#include "engine/FolderFormat.h"
#include "engine/SafeMove.h"
#include "engine/TagReader.h"
#include "engine/commonold.h"

#include <cerrno>

namespace {

// The tags of one file. The reader lives for this call only, so it is
// released on every way out, before anything is written.
TagValues readTags(const QString& path)
{
    TagReader reader;
    reader.OpenTagFile(path);
    TagValues tags;
    tags.track = reader.TrackNumber();
    tags.title = reader.SongTitle();
    tags.album = reader.Album();
    tags.artist = reader.Artist();
    return tags;
}

// Creates the levels under `root` one at a time where they are missing and
// answers the deepest folder, ending in "/". An empty level names the folder
// above it, which exists by then.
QString createLevels(const QString& root, const QStringList& levels)
{
    QString folder = root;
    for (const QString& level : levels) {
        const QString candidate = folder + level;
        SafeMove::createFolderIfMissing(candidate);
        folder = candidate + QLatin1Char('/');
    }
    return folder;
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

// The levels for these tags, created where missing, by the rules of the file
// system that holds the outbox. One that refuses a name (EINVAL) without being
// known for it gets the stricter names on a second try.
QString processor::createFolders(const TagValues& tags) const
{
    const QString outbox = outboxpath();
    const bool windows = commonold::RefusesWindowsNames(outbox);
    try {
        return createLevels(outbox, FolderLevels(folderFormat_, tags, windows ? NameRules::Windows : NameRules::Posix));
    } catch (const FilingError& error) {
        if (windows || error.lastDllError() != EINVAL)
            throw;
    }
    return createLevels(outbox, FolderLevels(folderFormat_, tags, NameRules::Windows));
}

void processor::process()
{
    const QString source = inboxpath() + currentinfile();
    // Noted before the tags are read, so a file that changes at any time
    // while it is filed stays in the inbox and is filed again later.
    SafeMove move(source);
    const TagValues tags = readTags(source);
    const QString folder = createFolders(tags);
    move.copyTo(folder + currentinfile());
    move.removeSourceIfUnchanged();
}
