#pragma once

#include "engine/OutboxRefile.h"

#include <QObject>

#include <atomic>

// Re-files the outbox on the thread it is moved to (the filing thread), so
// that a library of any size never holds up the service: each move and the
// progress go back by signals, and a stop is heeded between two files.
class RefileWorker : public QObject {
    Q_OBJECT

public:
    // Runs on the worker's thread.
    void run(const QString& outbox, const QString& folderFormat, const QString& fileNameFormat,
             const QHash<QString, QString>& movedBefore);
    // Any thread: the run stops before the next file.
    void stop() { stopped_ = true; }

signals:
    // One move, with the songs looked at so far of all the outbox holds.
    void moved(const OutboxRefile::Moved& move, int done, int total);
    void progress(int done, int total);
    // The run ended: `complete` unless it was stopped.
    void ended(bool complete);

private:
    std::atomic<bool> stopped_{false};
};
