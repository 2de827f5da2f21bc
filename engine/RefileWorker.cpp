#include "engine/RefileWorker.h"

void RefileWorker::run(const QString& outbox, const QString& folderFormat, const QString& fileNameFormat,
                       const QHash<QString, QString>& movedBefore)
{
    stopped_ = false;
    OutboxRefile refile(outbox, folderFormat, fileNameFormat);
    const int total = refile.songCount();
    int done = 0;
    const bool complete = refile.run([&](const OutboxRefile::Moved& move) { emit moved(move, done, total); },
                                     [&] {
                                         if (stopped_)
                                             return false;
                                         emit progress(done++, total);
                                         return true;
                                     },
                                     movedBefore);
    emit ended(complete);
}
