#pragma once

#include "engine/FilingJob.h"
#include "engine/FolderFormat.h"
#include "engine/SafeMove.h"
#include "engine/clsProcessorBase.h"

#include <QString>

// The filing engine as the service sees it: the fields that
// describe this kind of service, the folder format, the filing of one file,
// and the members of its processing base, forwarded unchanged.
class processor {
public:
    static constexpr bool advanced = true;
    static inline const QString inext = QStringLiteral("mp3");
    static inline const QString outext = QStringLiteral("mp3");

    // Files the current inbox file into the outbox by its tags and says where
    // it went. Throws a FilingError when it cannot; the inbox file then stays
    // where it was, as it does when the move was abandoned.
    MoveResult process(const SafeMove::Progress& progress = {}) { return process(job(), progress); }
    // The same for `job`, on any thread.
    static MoveResult process(const FilingJob& job, const SafeMove::Progress& progress = {});
    // The current file with the folders and the formats, for process.
    FilingJob job() const;
    // Where process files `job`'s file with these tags, under the outbox; the
    // Advanced dialog's preview asks the same.
    static FiledPath destination(const FilingJob& job, const TagValues& tags, NameRules rules);
    // The destination for these tags, its folders created where missing (a
    // level that differs from a folder there only in letter case is that
    // folder), by the rules of the file system that holds the outbox.
    static SafeMove::Destination createDestination(const FilingJob& job, const TagValues& tags);
    // At start: removes what an interrupted run left in the folders.
    void removeLeftovers();

    QString currentinfile() const { return base_.currentinfile(); }
    void setCurrentinfile(const QString& name) { base_.setCurrentinfile(name); }
    QString currentoutfile() const { return base_.currentoutfile(); }
    QString inboxpath() const { return base_.inboxpath(); }
    void setInboxpath(const QString& path) { base_.setInboxpath(path); }
    QString outboxpath() const { return base_.outboxpath(); }
    void setOutboxpath(const QString& path) { base_.setOutboxpath(path); }
    QString errorspath() const { return base_.errorspath(); }
    void setErrorspath(const QString& path) { base_.setErrorspath(path); }
    bool serviceon() const { return base_.serviceon(); }
    bool processing() const { return base_.processing(); }
    void setProcessing(bool busy) { base_.setProcessing(busy); }
    int inboxcount() const { return base_.inboxcount(); }
    int inboxlockcount() const { return base_.inboxlockcount(); }
    int outboxlockcount() const { return base_.outboxlockcount(); }
    int toobigcount() const { return base_.toobigcount(); }
    bool getnextfile() { return base_.getnextfile(); }
    void updatestats() { base_.updatestats(); }
    QString ServiceStatus() const { return base_.ServiceStatus(); }
    QString InboxFiles(int id) const { return base_.InboxFiles(id); }
    void turnon() { base_.turnon(); }
    void turnoff() { base_.turnoff(); }

    // The folder and file name formats the filing uses from now on.
    void setFormats(const QString& folderFormat, const QString& fileNameFormat);
    QString folderFormat() const { return folderFormat_; }
    QString fileNameFormat() const { return fileNameFormat_; }

    // The processing base, for what the processor does not forward (what the
    // filing's outcome notes, the listing's left-alone entries).
    clsProcessorBase& base() { return base_; }

private:
    QString folderFormat_ = kDefaultFolderFormat;
    QString fileNameFormat_; // empty: a file keeps its inbox name
    clsProcessorBase base_{*this};
};
