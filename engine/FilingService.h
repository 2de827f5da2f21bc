#pragma once

#include "engine/FilingWorker.h"
#include "engine/History.h"
#include "engine/InboxVerdicts.h"
#include "engine/OutboxRefile.h"
#include "engine/ServiceSettings.h"
#include "engine/processor.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QStringList>

class QThread;
class QTimer;
class RefileWorker;

// The filing service: once a second a polling step chooses at most one inbox
// file and hands it to the filing thread, then looks at the inbox again. It
// owns the engine, the filing thread, the history, the start-up recovery of a
// file the tag reader stopped on, and the album folders, and tells what
// happens through its signals; a window, the tray or a headless run only bind
// to them and send it commands. Every member runs on the thread the service
// lives on (a window keeps it on a thread of its own, so no step ever holds
// the window up), except report, which any thread may call.
class FilingService : public QObject {
    Q_OBJECT

public:
    // The four counters of the inbox.
    struct Counts {
        int inbox = 0;
        int inboxLocked = 0;
        int tooBig = 0;
        int outboxLocked = 0;
        bool operator==(const Counts&) const = default;
    };
    // The inbox as last listed: the music waiting, in order, then what is left alone.
    struct Listing {
        QString folder;
        QStringList names;
        std::vector<InboxVerdicts::LeftAlone> leftAlone;
    };

    explicit FilingService(QObject* parent = nullptr);
    ~FilingService() override;

    // The folders and formats from now on. What an interrupted run left in
    // the folders is cleared, unless a filing is under way (it may be
    // removing its inbox file through the hidden folder right now).
    void configure(const ServiceSettings& settings);
    // The start: with `on`, a file whose tags were being read when the
    // program last ended goes to the errors folder before any other file is
    // read; then the service is switched and the polling starts.
    void run(bool on);
    // The switch: a start also tries again the files set aside.
    void setOn(bool on);
    // The polling rests, and starts again (while the folders are changed).
    void pausePolling();
    void resumePolling();
    // One polling step: hands at most one inbox file to the filing thread,
    // then lists the inbox. A step that filed a file runs the next at once.
    void step();
    // Puts the filed files at `paths` (in the outbox) back into the inbox
    // under the names they were filed under; each waits there until it changes.
    void putBack(const QStringList& paths);
    // "File again": the files put back under these inbox names are filed as any other.
    void fileAgain(const QStringList& inboxNames);
    // Moves every song of the outbox to where the formats and its tags put it
    // now, on the filing thread, with the backlog bar as its progress; no file
    // is filed meanwhile, and Stop ends it between two files.
    void refile();

    // The end: the polling stops, the copy under way is abandoned (the inbox
    // file stays whole) and the filing thread ends within 4 s. Outcomes that
    // arrive meanwhile still reach the history.
    void shutdown();

    bool isOn() const { return engine_.serviceon(); }
    // The inbox file being filed; empty when none is.
    QString fileInHand() const { return engine_.processing() ? engine_.currentinfile() : QString(); }

    // The state, the status, the counters, the file being filed and the last
    // outcomes, as lines of text. Any thread may ask.
    QString report() const;

signals:
    void switched(bool on);
    // The status line: what the step or the last outcome says.
    void statusChanged(const QString& text);
    void countsChanged(const FilingService::Counts& counts);
    // Only when a name came or went, or a reason changed.
    void inboxListed(const FilingService::Listing& listing);
    // `name` is now filed, or none (empty) is.
    void fileInHandChanged(const QString& name);
    // Bytes copied of the file in hand; 0 of 0 as its filing begins.
    void copyProgress(const QString& name, qint64 copied, qint64 total);
    // Files done of the backlog being drained; 0 of 0 once the drain ended.
    void backlogChanged(int done, int total);
    // One line of the history was written (time, outcome, inbox name, where it went).
    void recorded(const QString& line);
    // One more file went to the errors folder.
    void errorFiled();
    // A putBack ended; `failures` files could not be put back.
    void putBackDone(int failures);
    // A refile ended, or could not start: `complete` when it ran to its end.
    void refileFinished(bool complete);

private:
    void say(const QString& text);
    void startFilingThread();
    void fileCurrentFile();
    void filed(const FilingWorker::Result& result);
    void albumDone(const FilingWorker::Result& result);
    void record(const FilingWorker::Result& result);
    void fileLeftInHand();
    void showProgress(qint64 copied, qint64 total);
    void showBacklog();
    void endDrain();
    void listInbox();
    void setFileInHand(bool filing);
    void stopFilingThread();
    void refiled(const OutboxRefile::Moved& move);
    void refileEnded(bool complete);

    processor engine_;
    History history_;
    QTimer* timer_;
    bool ending_ = false;
    // The filing thread and its worker, from the first file filed to the end.
    QThread* filingThread_ = nullptr;
    FilingWorker* worker_ = nullptr;
    RefileWorker* refiler_ = nullptr;
    bool refiling_ = false;
    // The backlog being drained: files whose filing ended since the drain
    // began, and the count when the inbox was last listed.
    bool draining_ = false;
    int drainDone_ = 0;
    int doneWhenListed_ = 0;
    QElapsedTimer sinceListed_;
    quint64 listedGeneration_ = 0;
    // Since a message that the polling steps leave standing for a while.
    QElapsedTimer statusHeld_;

    // What report tells, kept up to date as it changes.
    struct Report {
        bool on = false;
        QString status;
        Counts counts;
        QString inHand;
        QStringList lastOutcomes;
    };
    mutable QMutex reportLock_;
    Report report_;
};
