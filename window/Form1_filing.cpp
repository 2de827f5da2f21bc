// The main window's polling step and what it shows of the filing: the step
// decides on this thread and hands the file to the filing thread, whose
// progress and outcome come back here.
#include "window/Form1.h"

#include "engine/FileInHand.h"
#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/processor.h"
#include "window/ErrorNotices.h"
#include "window/StatusDisplay.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

namespace {

// While a backlog drains, the inbox is looked at no more often than this, so
// that looking does not cost more than the filing.
constexpr qint64 kInboxShowInterval = 250; // milliseconds
// progressbar's scale: bytes do not fit its int.
constexpr int kCopySteps = 1000;
// How long a message the user caused (a refused priority) stays in the status
// line before the idle steps replace it.
constexpr qint64 kStatusHoldTime = 5000; // milliseconds
// The program ends within 5 seconds of a close, even when the filing thread
// is stuck in a system call (a hung network or USB disk).
constexpr int kFilingEndsWithinMs = 4000;

// The status line's start for a file that could not be filed, for `why`.
QString cannotFile(const QString& inboxName, const QString& why)
{
    return QStringLiteral("Cannot file ") + FileName::forDisplay(inboxName) + QStringLiteral(": ") + why;
}

// What the status line says after a move, when "Processing" does not say it all.
QString describeMove(const QString& name, const MoveResult& moved, const QString& where)
{
    const QString notRemoved = QStringLiteral("it could not be removed from the inbox") +
                               (moved.notRemovedWhy.isEmpty() ? QStringLiteral(".")
                                                              : QStringLiteral(" (") + moved.notRemovedWhy +
                                                                    QStringLiteral("), so it is left alone."));
    switch (moved.outcome) {
    case MoveResult::Outcome::Abandoned:
        return name + QStringLiteral(" changed while it was filed, so it stays in the inbox.");
    case MoveResult::Outcome::Duplicate:
        return name + QStringLiteral(" is already in ") + where + QStringLiteral(" as ") +
               FileName::forDisplay(moved.name) +
               (moved.sourceRemoved ? QStringLiteral(": removed from the inbox.")
                                    : QStringLiteral(", but ") + notRemoved);
    case MoveResult::Outcome::Filed:
        if (!moved.sourceRemoved)
            return name + QStringLiteral(" was filed, but ") + notRemoved;
        // A song of an album folder is filed under its own name, without the folder.
        if (FileName::forDisplay(moved.name) != name.section(QLatin1Char('/'), -1) &&
            where == QLatin1String("the outbox"))
            return name + QStringLiteral(" was filed as ") + FileName::forDisplay(moved.name) +
                   (moved.numbered ? QStringLiteral(": another file had its name.") : QStringLiteral("."));
        return {};
    }
    return {};
}

} // namespace

// A step that finds the service off or a file in hand chooses nothing. A
// failure inside a step is shown in the status line and ends only that part of
// the step: the inbox is still shown, and the next step runs as usual.
void Form1::main()
{
    bool started = false;
    if (!process->processing()) {
        const bool held = statusHeld_.isValid() && !statusHeld_.hasExpired(kStatusHoldTime);
        if (!held)
            txtstatus->setText(QStringLiteral("Idle..."));
        try {
            if (process->serviceon()) {
                if (process->getnextfile()) {
                    statusHeld_.invalidate();
                    txtstatus->setText(QStringLiteral("Processing ") + FileName::forDisplay(process->currentinfile()));
                    fileCurrentFile();
                    started = true;
                } else if (!held) {
                    txtstatus->setText(process->ServiceStatus());
                }
            }
        } catch (const std::exception& failure) {
            txtstatus->setText(QStringLiteral("Error: ") + FilingError::describe(failure));
        }
        if (!started)
            endDrain();
    }
    if (!started || !sinceInboxShown_.isValid() || sinceInboxShown_.hasExpired(kInboxShowInterval)) {
        try {
            showInbox();
        } catch (const std::exception& failure) {
            txtstatus->setText(QStringLiteral("Error: ") + FilingError::describe(failure));
        }
    }
    txtstatus->setCursorPosition(0); // a long line shows its start: the file it is about
}

// Hands the current file to the filing thread, started with the first file:
// it then runs at the priority chosen by then, as every thread created later
// by this one does.
void Form1::fileCurrentFile()
{
    if (!filingThread_) {
        filingThread_ = new QThread(this);
        filingThread_->setObjectName(QStringLiteral("filing"));
        worker_ = new FilingWorker;
        worker_->moveToThread(filingThread_);
        connect(worker_, &FilingWorker::progress, this, &Form1::showCopyProgress);
        connect(worker_, &FilingWorker::filed, this, &Form1::showFiled);
        filingThread_->start();
    }
    process->setProcessing(true);
    const FilingJob job = process->job();
    if (job.finishAlbum) { // a few small files: no copy to follow, nothing to count
        QMetaObject::invokeMethod(worker_, [worker = worker_, job] { worker->file(job); });
        return;
    }
    if (!draining_) {
        draining_ = true;
        drainDone_ = doneWhenShown_ = 0;
    }
    progressbar->setText(FileName::forDisplay(process->currentinfile()) + QStringLiteral(": 0 %"));
    progressbar->setRange(0, kCopySteps);
    progressbar->setValue(0);
    showBacklog();
    QMetaObject::invokeMethod(worker_, [worker = worker_, job] { worker->file(job); });
}

// A file that could not be filed for a fault of its own went to the errors
// folder with its log. When the outbox could not take it, or the errors folder
// could not, the file is not at fault: it waits in the inbox behind the others,
// and the status line says which folder is wrong. The status line also says
// what else a move did that "Processing" does not say. Once the file has left
// the inbox, the next step runs at once.
void Form1::showFiled(const FilingWorker::Result& result)
{
    recordFiled(result);
    if (closing_)
        return;
    process->setProcessing(false);
    if (!result.moved.notRemovedWhy.isEmpty())
        process->base().setCurrentFileAside(result.moved.notRemovedWhy);
    const QString name = FileName::forDisplay(result.name);
    const QString cannotFileIt = cannotFile(result.name, result.failure);
    switch (result.outcome) {
    case FilingWorker::Outcome::Filed:
        if (const QString moved = describeMove(name, result.moved, QStringLiteral("the outbox")); !moved.isEmpty())
            txtstatus->setText(moved);
        break;
    case FilingWorker::Outcome::Waiting:
        process->base().letCurrentFileWait();
        txtstatus->setText(name + QStringLiteral(" waits in the inbox: ") + result.failure + QLatin1Char('.'));
        break;
    case FilingWorker::Outcome::ErrorFiled: {
        const QString how = describeMove(name, result.moved, QStringLiteral("the errors folder"));
        txtstatus->setText(cannotFileIt + QStringLiteral(". ") +
                           (how.isEmpty() ? QStringLiteral("Moved to the errors folder.") : how));
        break;
    }
    case FilingWorker::Outcome::LogFailed:
        txtstatus->setText(cannotFileIt +
                           QStringLiteral(". Moved to the errors folder; its log could not be written: ") +
                           result.errorFailure + QLatin1Char('.'));
        break;
    case FilingWorker::Outcome::Gone:
        txtstatus->setText(name + QStringLiteral(" left the inbox before it was filed."));
        break;
    case FilingWorker::Outcome::LeftInInbox:
        process->base().letCurrentFileWait();
        txtstatus->setText(cannotFileIt + QStringLiteral(". Left in the inbox: ") + result.errorFailure +
                           QLatin1Char('.'));
        break;
    case FilingWorker::Outcome::AlbumDone:
        showAlbumDone(result);
        return; // no song left the inbox: the backlog is as it was
    }
    txtstatus->setCursorPosition(0);
    drainDone_ += result.leftTheInbox();
    showBacklog();
    if (result.leftTheInbox() && Timer->isActive())
        main();
}

// A companion that could not be moved, or not removed, stays in the inbox
// until it changes: the status line says so, and keeps saying it for a while
// instead of the next step's status.
void Form1::showAlbumDone(const FilingWorker::Result& result)
{
    process->base().setCompanionsAside(result.companionsAside);
    QString told;
    if (!result.companionFailures.isEmpty()) {
        const AlbumFolder::Failed& first = result.companionFailures.first();
        told = cannotFile(first.inboxName, first.why) + QStringLiteral(". Left in the inbox.");
    }
    for (const AlbumFolder::Placed& companion : result.companions) {
        if (told.isEmpty() && !companion.moved.sourceRemoved)
            told =
                describeMove(FileName::forDisplay(companion.inboxName), companion.moved, QStringLiteral("the outbox"));
    }
    if (told.isEmpty())
        return;
    txtstatus->setText(told);
    txtstatus->setCursorPosition(0);
    statusHeld_.start();
}

// What happened to the file goes into the history, even when the window is
// closing, and a file sent to the errors folder into the notices.
void Form1::recordFiled(const FilingWorker::Result& result)
{
    switch (result.outcome) {
    case FilingWorker::Outcome::Filed:
        history_.record(result.name, result.moved);
        break;
    case FilingWorker::Outcome::ErrorFiled:
        history_.record(result.name, result.moved, result.failure);
        if (result.moved.outcome != MoveResult::Outcome::Abandoned)
            errorNotices_->fileErrorFiled();
        break;
    case FilingWorker::Outcome::LogFailed:
        history_.recordFailure(result.name,
                               result.failure +
                                   QStringLiteral("; moved to the errors folder, but its log could not be written: ") +
                                   result.errorFailure);
        errorNotices_->fileErrorFiled();
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
void Form1::fileLeftInHand()
{
    for (const QString& name : FileInHand().stoppedIn(process->inboxpath())) {
        process->base().setCurrentinfile(name);
        const FilingError error = FileInHand::readerStopped();
        const QString cannotFileIt = cannotFile(name, error.description());
        try {
            const MoveResult moved = clsProcessorBase::ErrorHandle(process->job(), error);
            history_.record(name, moved, error.description());
            if (moved.outcome != MoveResult::Outcome::Abandoned)
                errorNotices_->fileErrorFiled();
            txtstatus->setText(cannotFileIt + QStringLiteral(". Moved to the errors folder."));
        } catch (const std::exception& failure) {
            txtstatus->setText(cannotFileIt + QStringLiteral(". Left in the inbox: ") + FilingError::describe(failure) +
                               QLatin1Char('.'));
        }
    }
}

void Form1::showCopyProgress(qint64 copied, qint64 total)
{
    if (!process->processing() || total <= 0)
        return;
    progressbar->setText(FileName::forDisplay(process->currentinfile()) + QStringLiteral(": ") +
                         QString::number(copied * 100 / total) + QStringLiteral(" %"));
    progressbar->setValue(int(copied * kCopySteps / total));
}

// Files done since the drain began, of those and the ones still waiting: the
// inbox as last counted, less what left it since, and at least the file in hand.
void Form1::showBacklog()
{
    const int waiting = qMax(process->processing() ? 1 : 0, process->inboxcount() - (drainDone_ - doneWhenShown_));
    progtotal->setText(QStringLiteral("%1 of %2 files").arg(drainDone_).arg(drainDone_ + waiting));
    progtotal->setRange(0, drainDone_ + waiting);
    progtotal->setValue(drainDone_);
}

void Form1::endDrain()
{
    draining_ = false;
    progressbar->reset();
    progtotal->reset();
}

// At the end the copy under way is abandoned: its temporary file goes, the
// inbox file stays whole, and the thread ends within a chunk of the copy. A
// file filed just before still gets its line in the history. A thread that
// does not end in time is stuck in the system: it is left to end with the
// process (destroying a running thread would abort it), and what its copy
// leaves is removed at the next start.
void Form1::stopFiling()
{
    if (!filingThread_)
        return;
    worker_->abandon();
    filingThread_->quit();
    const bool ended = filingThread_->wait(QDeadlineTimer(kFilingEndsWithinMs));
    // An outcome that arrived meanwhile still reaches the history.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (!ended) {
        disconnect(worker_, nullptr, this, nullptr);
        filingThread_->setParent(nullptr);
        filingThread_ = nullptr;
        worker_ = nullptr;
        return;
    }
    delete worker_;
    worker_ = nullptr;
    delete filingThread_;
    filingThread_ = nullptr;
}
