#include "engine/FilingPreview.h"

#include "engine/AlbumFolder.h"
#include "engine/FileInHand.h"
#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/SafeMove.h"
#include "engine/ScanFolder.h"
#include "engine/processor.h"

#include <algorithm>
#include <cerrno>

FilingPreview::FilingPreview(const QString& inboxpath, const QString& outboxpath, int count)
    : rules_(commonold::RefusesWindowsNames(outboxpath) ? NameRules::Windows : NameRules::Posix)
{
    QStringList names;
    try {
        // The first songs by name, loose or in album folders ("Album/01.flac").
        const ScanFolder inbox(inboxpath);
        QStringList others;
        names = inbox.audioFiles(&others);
        for (const QString& other : std::as_const(others)) {
            if (inbox.isFolder(other))
                names += AlbumFolder(inboxpath, other).songs();
        }
        std::sort(names.begin(), names.end(), ScanFolder::listedBefore);
        names = names.mid(0, count);
    } catch (const FilingError&) { // an inbox that cannot be listed shows the example
    }
    for (const QString& name : std::as_const(names)) {
        Sample sample{name, {}, {}};
        try {
            // Opened as the filing opens it, and read with the same note: a
            // file that takes the reader down goes to the errors folder at the next start.
            const SafeMove source(inboxpath, name);
            if (source.descriptor() < 0)
                throw FilingError::fromErrno(EAGAIN);
            sample.tags = FileInHand::readTags(inboxpath, name, source.descriptor());
        } catch (const FilingError& error) {
            sample.failure = error.description();
        }
        samples_ << sample;
    }
    if (samples_.isEmpty()) {
        samples_ << Sample{QStringLiteral("example.mp3"), ExampleSong(), {}};
        example_ = true;
    }
}

QStringList FilingPreview::lines(const QString& folderFormat, const QString& fileNameFormat) const
{
    QStringList lines;
    for (const Sample& sample : samples_) {
        FilingJob job;
        job.currentinfile = sample.name;
        job.folderFormat = folderFormat;
        job.fileNameFormat = fileNameFormat;
        const QString where = sample.failure.isEmpty()
                                  ? processor::destination(job, sample.tags, rules_).path()
                                  : QStringLiteral("the errors folder (") + sample.failure + QLatin1Char(')');
        lines << FileName::forDisplay(sample.name) + (example_ ? QStringLiteral(" (an example song)") : QString()) +
                     QStringLiteral(" → ") + FileName::forDisplay(where);
    }
    return lines;
}
