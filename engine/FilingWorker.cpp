#include "engine/FilingWorker.h"

#include "engine/FilingError.h"
#include "engine/SafeMove.h"
#include "engine/clsProcessorBase.h"
#include "engine/processor.h"

#include <QFile>

#include <sys/stat.h>

namespace {

// Often enough for a bar that moves smoothly, rarely enough to cost nothing.
constexpr qint64 kProgressInterval = 200; // milliseconds

bool exists(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

void FilingWorker::file(const FilingJob& job)
{
    const auto goOn = [this](qint64 copied, qint64 total) { return this->goOn(copied, total); };
    Result result;
    result.name = job.currentinfile;
    sinceProgress_.start();
    try {
        processor::process(job, goOn);
    } catch (const SafeMove::Abandoned&) {
        result.outcome = Outcome::Abandoned;
    } catch (const std::exception& failure) {
        result.failure = FilingError::describe(failure);
        try {
            clsProcessorBase::ErrorHandle(job, FilingError::of(failure), goOn);
            result.outcome = Outcome::MovedToErrors;
        } catch (const SafeMove::Abandoned&) {
            result.outcome = Outcome::Abandoned;
        } catch (const std::exception& errorFilingFailure) {
            result.outcome = Outcome::LeftInInbox;
            result.errorFailure = FilingError::describe(errorFilingFailure);
        }
    }
    result.leftTheInbox = !exists(job.inboxpath + job.currentinfile);
    emit filed(result);
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
