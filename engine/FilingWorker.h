#pragma once

#include "engine/FilingJob.h"
#include "engine/SafeMove.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>

// Files one inbox file at a time on the thread it is moved to, so that a copy
// of any size never holds up the window: the filing by tags, and for a file
// that cannot be filed, the error filing. Jobs come in queued from the
// window's thread (file); the copy's progress and each outcome go back by
// signals. It touches no widget and no processor.
class FilingWorker : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        Filed,       // the filing ran to its end; `moved` says where the file went
        Waiting,     // the outbox could not take it: it waits in the inbox, not at fault
        ErrorFiled,  // it could not be filed; `moved` says where the error filing put it
        LogFailed,   // it could not be filed, went to the errors folder, but without its log
        LeftInInbox, // it could not be filed, and the error filing failed too
        Gone,        // it left the inbox before it could be filed (its owner removed it)
        AlbumDone,   // an album folder's companions were placed: `companions`, `companionFailures`
    };
    struct Result {
        Outcome outcome = Outcome::Filed;
        QString name;         // the inbox file
        MoveResult moved;     // of the filing or of the error filing
        QString failure;      // why it could not be filed
        QString errorFailure; // why the error filing failed as well
        QList<AlbumFolder::Placed> companions;
        QList<AlbumFolder::Failed> companionFailures;
        AlbumFolder::Aside companionsAside; // not to be tried again while unchanged
        // The inbox file is gone: the backlog moved on.
        bool leftTheInbox() const
        {
            return outcome == Outcome::LogFailed || outcome == Outcome::Gone ||
                   ((outcome == Outcome::Filed || outcome == Outcome::ErrorFiled) && moved.sourceRemoved);
        }
    };

    // Files `job`'s inbox file and emits filed. Runs on the worker's thread.
    void file(const FilingJob& job);
    // Abandons the copy under way and every later one, within one chunk of the
    // copy: the inbox file stays whole. Any thread may call it; it is meant for
    // the program's end.
    void abandon() { abandoned_ = true; }

signals:
    // Bytes copied of the current file, a few times a second while a copy lasts.
    void progress(qint64 copied, qint64 total);
    void filed(const FilingWorker::Result& result);

private:
    Result finishAlbum(const FilingJob& job);
    bool goOn(qint64 copied, qint64 total);

    std::atomic<bool> abandoned_{false};
    QElapsedTimer sinceProgress_;
};
