#include "engine/FilingService.h"

#include "engine/FileInHand.h"
#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/MoveDescription.h"
#include "engine/PutBack.h"
#include "engine/RefileWorker.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

namespace {

// While a backlog drains, the inbox is listed no more often than this, so
// that listing does not cost more than the filing.
constexpr qint64 kListInterval = 250; // milliseconds
// How long a message about a companion that stays in the inbox, a put back or
// the end of a re-filing stands before the idle steps replace it.
constexpr qint64 kStatusHoldTime = 5000; // milliseconds
// The program ends within 5 seconds of a close, even when the filing thread
// is stuck in a system call (a hung network or USB disk).
constexpr int kFilingEndsWithinMs = 4000;
// How many outcomes report tells.
constexpr qsizetype kOutcomesReported = 5;

} // namespace

FilingService::FilingService(QObject* parent) : QObject(parent), timer_(new QTimer(this))
{
    timer_->setObjectName(QStringLiteral("Timer"));
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &FilingService::step);
    history_.onAppended([this](const QString& line) {
        {
            const QMutexLocker locked(&reportLock_);
            report_.lastOutcomes.prepend(line);
            if (report_.lastOutcomes.size() > kOutcomesReported)
                report_.lastOutcomes.removeLast();
        }
        emit recorded(line);
    });
}

FilingService::~FilingService()
{
    stopFilingThread();
}

void FilingService::configure(const ServiceSettings& settings)
{
    engine_.setInboxpath(settings.inbox);
    engine_.setOutboxpath(settings.outbox);
    engine_.setErrorspath(settings.errors);
    engine_.setFormats(settings.folderFormat, settings.fileNameFormat);
    if (!engine_.processing())
        engine_.removeLeftovers();
}

void FilingService::run(bool on)
{
    if (on)
        fileLeftInHand();
    setOn(on);
    timer_->start();
}

void FilingService::setOn(bool on)
{
    if (!on && refiler_)
        refiler_->stop();
    on ? engine_.turnon() : engine_.turnoff();
    {
        const QMutexLocker locked(&reportLock_);
        report_.on = on;
    }
    emit switched(on);
}

void FilingService::pausePolling()
{
    timer_->stop();
}

void FilingService::resumePolling()
{
    if (!ending_)
        timer_->start();
}

// A step that finds the service off or a file in hand chooses nothing. A
// failure inside a step is told in the status and ends only that part of the
// step: the inbox is still listed, and the next step runs as usual.
void FilingService::step()
{
    bool started = false;
    if (!engine_.processing() && !refiling_) {
        const bool held = statusHeld_.isValid() && !statusHeld_.hasExpired(kStatusHoldTime);
        if (!held)
            say(QStringLiteral("Idle..."));
        try {
            if (engine_.serviceon()) {
                if (engine_.getnextfile()) {
                    statusHeld_.invalidate();
                    say(QStringLiteral("Processing ") + FileName::forDisplay(engine_.currentinfile()));
                    fileCurrentFile();
                    started = true;
                } else if (!held) {
                    say(engine_.ServiceStatus());
                }
            }
        } catch (const std::exception& failure) {
            say(QStringLiteral("Error: ") + FilingError::describe(failure));
        }
        if (!started)
            endDrain();
    }
    if (!started || !sinceListed_.isValid() || sinceListed_.hasExpired(kListInterval)) {
        try {
            listInbox();
        } catch (const std::exception& failure) {
            say(QStringLiteral("Error: ") + FilingError::describe(failure));
        }
    }
}

void FilingService::say(const QString& text)
{
    {
        const QMutexLocker locked(&reportLock_);
        report_.status = text;
    }
    emit statusChanged(text);
}

// Started with the first file: it then runs at the priority chosen by then,
// as every thread created later by this one does.
void FilingService::startFilingThread()
{
    filingThread_ = new QThread(this);
    filingThread_->setObjectName(QStringLiteral("filing"));
    worker_ = new FilingWorker;
    worker_->moveToThread(filingThread_);
    refiler_ = new RefileWorker;
    refiler_->moveToThread(filingThread_);
    connect(refiler_, &RefileWorker::moved, this, &FilingService::refiled);
    connect(refiler_, &RefileWorker::progress, this, &FilingService::backlogChanged);
    connect(refiler_, &RefileWorker::ended, this, &FilingService::refileEnded);
    connect(worker_, &FilingWorker::progress, this, &FilingService::showProgress);
    connect(worker_, &FilingWorker::filed, this, &FilingService::filed);
    filingThread_->start();
}

void FilingService::fileCurrentFile()
{
    if (!filingThread_)
        startFilingThread();
    setFileInHand(true);
    const FilingJob job = engine_.job();
    if (!job.finishAlbum) { // an album's companions: a few small files, no copy to follow, nothing to count
        if (!draining_) {
            draining_ = true;
            drainDone_ = doneWhenListed_ = 0;
        }
        emit copyProgress(engine_.currentinfile(), 0, 0);
        showBacklog();
    }
    QMetaObject::invokeMethod(worker_, [worker = worker_, job] { worker->file(job); });
}

void FilingService::setFileInHand(bool filing)
{
    engine_.setProcessing(filing);
    const QString name = fileInHand();
    {
        const QMutexLocker locked(&reportLock_);
        report_.inHand = name;
    }
    emit fileInHandChanged(name);
}

// A file that could not be filed for a fault of its own went to the errors
// folder with its log. When the outbox could not take it, or the errors folder
// could not, the file is not at fault: it waits in the inbox behind the others,
// and the status says which folder is wrong. The status also says what else a
// move did that "Processing" does not say. Once the file has left the inbox,
// the next step runs at once.
void FilingService::filed(const FilingWorker::Result& result)
{
    record(result);
    if (ending_)
        return;
    setFileInHand(false);
    if (!result.moved.notRemovedWhy.isEmpty())
        engine_.base().setCurrentFileAside(result.moved.notRemovedWhy);
    if (result.outcome == FilingWorker::Outcome::Waiting || result.outcome == FilingWorker::Outcome::LeftInInbox)
        engine_.base().letCurrentFileWait();
    if (result.outcome == FilingWorker::Outcome::AlbumDone) {
        albumDone(result);
        return; // no song left the inbox: the backlog is as it was
    }
    if (const QString told = MoveDescription::ofOutcome(result); !told.isEmpty())
        say(told);
    drainDone_ += result.leftTheInbox();
    showBacklog();
    if (result.leftTheInbox() && timer_->isActive())
        step();
}

// A companion that could not be moved, or not removed, stays in the inbox
// until it changes: the status says so, and keeps saying it for a while
// instead of the next step's status.
void FilingService::albumDone(const FilingWorker::Result& result)
{
    engine_.base().setCompanionsAside(result.companionsAside);
    if (const QString told = MoveDescription::ofCompanions(result); !told.isEmpty()) {
        say(told);
        statusHeld_.start();
    }
}

// What happened to the file goes into the history, even as the service ends.
void FilingService::record(const FilingWorker::Result& result)
{
    switch (result.outcome) {
    case FilingWorker::Outcome::Filed:
        history_.record(result.name, result.moved);
        break;
    case FilingWorker::Outcome::ErrorFiled:
        history_.record(result.name, result.moved, result.failure);
        if (result.moved.outcome != MoveResult::Outcome::Abandoned)
            emit errorFiled();
        break;
    case FilingWorker::Outcome::LogFailed:
        history_.recordFailure(result.name,
                               result.failure +
                                   QStringLiteral("; moved to the errors folder, but its log could not be written: ") +
                                   result.errorFailure);
        emit errorFiled();
        break;
    case FilingWorker::Outcome::LeftInInbox:
        history_.recordFailure(result.name,
                               result.failure + QStringLiteral("; left in the inbox: ") + result.errorFailure);
        break;
    case FilingWorker::Outcome::Gone:
        history_.recordGone(result.name);
        break;
    case FilingWorker::Outcome::AlbumDone:
        for (const AlbumFolder::Placed& companion : result.companions)
            history_.record(companion.inboxName, companion.moved);
        for (const AlbumFolder::Failed& failed : result.companionFailures)
            history_.recordFailure(failed.inboxName, failed.why);
        break;
    case FilingWorker::Outcome::Waiting:
        break;
    }
}

// A file whose tags were being read when the program ended may have ended it:
// it goes to the errors folder before any other file is read, as do the files
// noted so before. One the errors folder cannot take stays noted, and the
// filing sends it there later.
void FilingService::fileLeftInHand()
{
    for (const QString& name : FileInHand().stoppedIn(engine_.inboxpath())) {
        engine_.setCurrentinfile(name);
        const FilingError error = FileInHand::readerStopped();
        const QString cannotFileIt = MoveDescription::cannotFile(name, error.description());
        try {
            const MoveResult moved = clsProcessorBase::ErrorHandle(engine_.job(), error);
            history_.record(name, moved, error.description());
            if (moved.outcome != MoveResult::Outcome::Abandoned)
                emit errorFiled();
            say(cannotFileIt + QStringLiteral(". Moved to the errors folder."));
        } catch (const std::exception& failure) {
            say(cannotFileIt + QStringLiteral(". Left in the inbox: ") + FilingError::describe(failure) +
                QLatin1Char('.'));
        }
    }
}

void FilingService::showProgress(qint64 copied, qint64 total)
{
    if (engine_.processing() && total > 0)
        emit copyProgress(engine_.currentinfile(), copied, total);
}

// Files done since the drain began, of those and the ones still waiting: the
// inbox as last counted, less what left it since, and at least the file in hand.
void FilingService::showBacklog()
{
    const int waiting = qMax(engine_.processing() ? 1 : 0, engine_.inboxcount() - (drainDone_ - doneWhenListed_));
    emit backlogChanged(drainDone_, drainDone_ + waiting);
}

void FilingService::endDrain()
{
    if (!draining_)
        return;
    draining_ = false;
    emit backlogChanged(0, 0);
}

void FilingService::listInbox()
{
    sinceListed_.start();
    doneWhenListed_ = drainDone_;
    engine_.updatestats();
    const Counts counts{engine_.inboxcount(), engine_.inboxlockcount(), engine_.toobigcount(),
                        engine_.outboxlockcount()};
    {
        const QMutexLocker locked(&reportLock_);
        report_.counts = counts;
    }
    if (engine_.base().listingGeneration() != listedGeneration_) { // a name came or went, or a reason changed
        listedGeneration_ = engine_.base().listingGeneration();
        Listing listing{engine_.inboxpath(), {}, engine_.base().leftAlone()};
        for (int index = 1; index <= engine_.inboxcount(); ++index)
            listing.names << engine_.InboxFiles(index);
        emit inboxListed(listing);
    }
    emit countsChanged(counts);
    if (draining_)
        showBacklog();
}

void FilingService::putBack(const QStringList& paths)
{
    const QList<History::Entry> entries = history_.entries();
    int failures = 0;
    for (const QString& path : paths) {
        const QString shown = FileName::forDisplay(path.section(QLatin1Char('/'), -1));
        try {
            const QString name = PutBack::fileAndRecord(engine_.inboxpath(), engine_.outboxpath(), path, entries,
                                                        engine_.base().putBackNotes(), history_);
            say(name.isEmpty()
                    ? shown + QStringLiteral(" changed while it was put back, so it stays in the outbox.")
                    : shown + QStringLiteral(" was put back into the inbox as ") + FileName::forDisplay(name) +
                          QStringLiteral("; it waits there until it changes or is filed again."));
        } catch (const std::exception& failure) {
            ++failures;
            history_.recordFailure(path, QStringLiteral("cannot be put back: ") + FilingError::describe(failure));
            say(QStringLiteral("Cannot put back ") + shown + QStringLiteral(": ") + FilingError::describe(failure));
        }
        statusHeld_.start();
    }
    emit putBackDone(failures);
}

void FilingService::fileAgain(const QStringList& inboxNames)
{
    for (const QString& name : inboxNames)
        engine_.base().putBackNotes().forget(name);
}

void FilingService::refile()
{
    if (engine_.processing() || refiling_ || ending_) { // one thing at a time: the file in hand first
        say(QStringLiteral("The outbox cannot be re-filed while a file is filed; try again in a moment."));
        emit refileFinished(false);
        return;
    }
    if (!filingThread_)
        startFilingThread();
    refiling_ = true;
    say(QStringLiteral("Re-filing the outbox..."));
    QMetaObject::invokeMethod(
        refiler_, [refiler = refiler_, job = engine_.job(), before = History::refiledMoves(history_.entries())] {
            refiler->run(job.outboxpath, job.folderFormat, job.fileNameFormat, before);
        });
}

void FilingService::refiled(const OutboxRefile::Moved& move)
{
    const QString shown = FileName::forDisplay(move.from.mid(engine_.outboxpath().size()));
    OutboxRefile::record(history_, move);
    if (!move.failure.isEmpty()) {
        say(QStringLiteral("Cannot re-file ") + shown + QStringLiteral(": ") + move.failure);
        return;
    }
    say(QStringLiteral("Re-filed ") + shown + QStringLiteral(" as ") +
        FileName::forDisplay((move.moved.folder + move.moved.name).mid(engine_.outboxpath().size())));
}

void FilingService::refileEnded(bool complete)
{
    refiling_ = false;
    emit backlogChanged(0, 0);
    say(complete ? QStringLiteral("The outbox is re-filed.")
                 : QStringLiteral("Re-filing stopped; re-filing the outbox again goes on where it stopped."));
    statusHeld_.start();
    emit refileFinished(complete);
}

void FilingService::shutdown()
{
    ending_ = true;
    timer_->stop();
    stopFilingThread();
}

// A thread that does not end in time is stuck in the system: it is left to
// end with the process (destroying a running thread would abort it), and what
// its copy leaves is removed at the next start.
void FilingService::stopFilingThread()
{
    if (!filingThread_)
        return;
    worker_->abandon();
    refiler_->stop();
    filingThread_->quit();
    const bool ended = filingThread_->wait(QDeadlineTimer(kFilingEndsWithinMs));
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (!ended) {
        disconnect(worker_, nullptr, this, nullptr);
        disconnect(refiler_, nullptr, this, nullptr);
        filingThread_->setParent(nullptr);
    } else {
        delete worker_;
        delete refiler_;
        delete filingThread_;
    }
    worker_ = nullptr;
    refiler_ = nullptr;
    filingThread_ = nullptr;
}

QString FilingService::report() const
{
    const QMutexLocker locked(&reportLock_);
    QStringList lines{
        QStringLiteral("Service: ") + (report_.on ? QStringLiteral("started") : QStringLiteral("stopped")),
        QStringLiteral("Status: ") + report_.status,
        QStringLiteral("Inbox: %1  In Locked: %2  Too big: %3  Out Locked: %4")
            .arg(report_.counts.inbox)
            .arg(report_.counts.inboxLocked)
            .arg(report_.counts.tooBig)
            .arg(report_.counts.outboxLocked),
        QStringLiteral("Filing: ") +
            (report_.inHand.isEmpty() ? QStringLiteral("nothing") : FileName::forDisplay(report_.inHand))};
    lines << QStringLiteral("Last outcomes:");
    for (const QString& line : report_.lastOutcomes)
        lines << QStringLiteral("  ") + line;
    if (report_.lastOutcomes.isEmpty())
        lines << QStringLiteral("  none since the start");
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
