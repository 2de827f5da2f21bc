#include "engine/FilingWorker.h"

#include "engine/FilingError.h"
#include "engine/clsProcessorBase.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <cerrno>

namespace {

// Often enough for a bar that moves smoothly, rarely enough to cost nothing.
constexpr qint64 kProgressInterval = 200; // milliseconds

} // namespace

void FilingWorker::file(const FilingJob& job)
{
    if (job.finishAlbum) {
        emit filed(finishAlbum(job));
        return;
    }
    const auto goOn = [this](qint64 copied, qint64 total) { return this->goOn(copied, total); };
    Result result;
    result.name = job.currentinfile;
    sinceProgress_.start();
    // A file its owner removed meanwhile is no failure: it has simply gone.
    const auto gone = [&] { return !commonold::FileExists(job.inboxpath + job.currentinfile); };
    try {
        result.moved = processor::process(job, goOn);
        if (result.moved.outcome == MoveResult::Outcome::Abandoned && gone())
            result.outcome = Outcome::Gone;
    } catch (const std::exception& failure) {
        // A destination that cannot take the file is not the file's fault.
        result.failure = FilingError::describe(failure);
        const FilingError error = FilingError::of(failure);
        if (error.blamesDestination() || (error.lastDllError() == ENOENT && gone())) {
            result.outcome = error.blamesDestination() ? Outcome::Waiting : Outcome::Gone;
            emit filed(result);
            return;
        }
        try {
            result.moved = clsProcessorBase::ErrorHandle(job, error, goOn);
            result.outcome = Outcome::ErrorFiled;
        } catch (const std::exception& errorFilingFailure) {
            // The file may have moved before the log failed.
            const bool stayed = commonold::FileExists(job.inboxpath + job.currentinfile);
            result.outcome = stayed ? Outcome::LeftInInbox : Outcome::LogFailed;
            result.errorFailure = FilingError::describe(errorFilingFailure);
        }
    }
    emit filed(result);
}

// The album folder is looked at again here: it may have changed since it was chosen.
FilingWorker::Result FilingWorker::finishAlbum(const FilingJob& job)
{
    AlbumFolder album(job.inboxpath, job.currentinfile, job.keptOut);
    album.finish(job.outboxpath, job.companionsAside);
    Result result;
    result.outcome = Outcome::AlbumDone;
    result.name = job.currentinfile;
    result.companions = album.placed();
    result.companionFailures = album.failed();
    result.companionsAside = album.setAside();
    return result;
}

bool FilingWorker::goOn(qint64 copied, qint64 total)
{
    if (abandoned_)
        return false;
    if (sinceProgress_.hasExpired(kProgressInterval)) {
        sinceProgress_.start();
        emit progress(copied, total);
    }
    return true;
}
