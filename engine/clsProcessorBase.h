#pragma once

#include "engine/AlbumFolder.h"
#include "engine/FilingJob.h"
#include "engine/InboxVerdicts.h"
#include "engine/PutBackNotes.h"
#include "engine/SafeMove.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <map>

class FilingError;
class processor;

// The processing base: holds the folder paths, the service switch, the inbox
// counters and listing, the current file and the status message; scans the
// inbox, chooses the next file, files a failed file into the errors folder and
// switches the service on and off. Owned by one processor, whose public fields
// (extensions) it reads.
class clsProcessorBase {
public:
    explicit clsProcessorBase(const processor& owner);

    QString ServiceStatus() const { return status_; }

    QString currentinfile() const { return currentInFile_; }
    // Also derives currentoutfile from a name of more than four characters.
    void setCurrentinfile(const QString& name);
    QString currentoutfile() const { return currentOutFile_; }

    QString inboxpath() const { return inboxPath_; }
    void setInboxpath(const QString& path) { inboxPath_ = path; }
    QString outboxpath() const { return outboxPath_; }
    void setOutboxpath(const QString& path) { outboxPath_ = path; }
    QString errorspath() const { return errorsPath_; }
    void setErrorspath(const QString& path) { errorsPath_ = path; }

    bool serviceon() const { return serviceOn_; }
    bool processing() const { return processing_; }
    void setProcessing(bool busy) { processing_ = busy; }

    int outboxlockcount() const { return outboxLockCount_; }
    int toobigcount() const { return tooBigCount_; }
    int inboxlockcount() const { return inboxLockCount_; }
    int inboxcount() const { return inboxCount_; }

    // Chooses the first inbox file that fits on the outbox disk, whose outbox
    // name is not held open and which no other program holds open.
    bool getnextfile();
    // Lists and recounts the inbox, the songs in album folders among the
    // waiting files ("Album/CD1/01.flac").
    void updatestats();
    // The name at `id` of the last listing: "" at 0, names at 1 to inboxcount.
    QString InboxFiles(int id) const;
    // Changes whenever updatestats finds that a name came or went.
    quint64 listingGeneration() const { return listedGeneration_; }
    // What the inbox holds besides music, as of the last updatestats.
    const std::vector<InboxVerdicts::LeftAlone>& leftAlone() const { return verdicts_.leftAlone(); }

    // Notes that the current file could not be filed for now and stays in the
    // inbox: the files that do not wait are chosen before it.
    void letCurrentFileWait() { waiting_.insert(currentInFile_); }
    // Notes that the current file was copied but cannot be removed from the
    // inbox, for `why`: it is left alone, counted as held, until it changes
    // or the service is started again.
    void setCurrentFileAside(const QString& why) { setAside_.insert(currentInFile_, {why}); }

    // The current file is an album folder whose companions are to be placed.
    bool finishingAlbum() const { return finishing_; }
    // Notes companions that could not be moved: left alone while they do not
    // change, until the service is started again.
    void setCompanionsAside(const AlbumFolder::Aside& aside) { companionsAside_.insert(aside); }
    // The files put back from the outbox, which wait until they change.
    PutBackNotes& putBackNotes() { return putBack_; }

    // Moves the current inbox file into the errors folder, in a subfolder named
    // after the failure, with a five-line log beside it, and says where it went.
    MoveResult ErrorHandle(const FilingError& myerr, const SafeMove::Progress& progress = {});
    // The same for `job`'s file, on any thread.
    static MoveResult ErrorHandle(const FilingJob& job, const FilingError& myerr,
                                  const SafeMove::Progress& progress = {});
    // The current file and the folders (no folder format).
    FilingJob job() const;

    void turnon();
    void turnoff();

private:
    QString heldReason(const QString& name, const FileVerdict& verdict) const;
    bool isSetAside(const QString& name, const commonold::FileCheck& file) const;
    static QString noMusicStatus(int leftAlone);
    bool nextAlbumSong();
    AlbumFolder& album(const QString& name);
    FileVerdict examine(const QString& name, InboxVerdicts::Pass& pass) const;
    void refreshVerdicts(bool askUnsettled);

    const processor& owner_;
    QString currentInFile_;
    QString currentOutFile_;
    QString inboxPath_;
    QString outboxPath_;
    QString errorsPath_;
    bool serviceOn_ = false;
    bool processing_ = false;
    // Plain ints: the counters count past 32767.
    int inboxCount_ = 0;
    int inboxLockCount_ = 0;
    int tooBigCount_ = 0;
    int outboxLockCount_ = 0;
    QString status_;
    QStringList inboxFiles_; // index 0 is "" once listed; empty before the first listing
    InboxVerdicts verdicts_;
    InboxVerdicts::Examine examiner_;
    quint64 listedGeneration_ = 0;
    quint64 verdictsListed_ = 0;
    QStringList albumSongs_;  // as last listed
    bool albumWaits_ = false; // a folder holds songs, none of which could be chosen
    QString albumHeld_;       // why, for the status line, where it is told
    QSet<QString> waiting_;
    // Files set aside, with why, and the file as it was when first looked at since.
    struct SetAside {
        QString why;
        quint64 inode = 0;
        qint64 changeTime = 0;
    };
    mutable QHash<QString, SetAside> setAside_;
    // The album folders looked at by a getnextfile that chose nothing, for the
    // updatestats of the same step: each folder is walked once a step.
    std::map<QString, AlbumFolder> albums_;
    AlbumFolder::Aside companionsAside_;
    mutable PutBackNotes putBack_; // files put back from the outbox wait until they change
    bool finishing_ = false;       // the current "file" is an album folder whose companions are placed
    FolderIdentities keptOut_;     // the outbox and the errors folder, as this step found them
};
