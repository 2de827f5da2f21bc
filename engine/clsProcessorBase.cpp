#include "engine/clsProcessorBase.h"

#include "engine/AlbumRecord.h"
#include "engine/AudioFormats.h"
#include "engine/FileInHand.h"
#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/FittingMove.h"
#include "engine/FolderFormat.h"
#include "engine/PartialCopy.h"
#include "engine/SafeFolder.h"
#include "engine/SafeMove.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace {

const QString kNoFiles = QStringLiteral("No files in inbox.  ");
const QString kCannotProcess = QStringLiteral("Cannot Process files yet.  ");
// A file is taken only once it has not changed for this long: a writer that
// closes the file between bursts is not cut into pieces.
constexpr qint64 kStandStillNs = 2000000000;

// A number as the error log writes it: a leading space unless negative, and a
// trailing space (53 gives " 53 ", -1 gives "-1 ").
QByteArray logNumber(int number)
{
    return (number < 0 ? QByteArray() : QByteArray(" ")) + QByteArray::number(number) + ' ';
}

QByteArray errorLog(const FilingError& error)
{
    const QByteArray crlf("\r\n");
    return logNumber(error.number()) + crlf + error.description().toUtf8() + crlf + logNumber(error.helpContext()) +
           crlf + error.helpFile().toUtf8() + crlf + logNumber(error.lastDllError()) + crlf;
}

} // namespace

clsProcessorBase::clsProcessorBase(const processor& owner)
    : owner_(owner), examiner_([this](const QString& name, InboxVerdicts::Pass& pass) { return examine(name, pass); })
{
}

void clsProcessorBase::setCurrentinfile(const QString& name)
{
    currentInFile_ = name;
    // Only the four characters of an ".mp3" ending are ever cut; a name as
    // short as "a.wv" is its own output name, not the previous file's. A song
    // of an album folder goes out under its own name, without the folder.
    const QString own = name.section(QLatin1Char('/'), -1);
    if (own.size() > 4 || !own.endsWith(QLatin1Char('.') + owner_.inext, Qt::CaseInsensitive))
        currentOutFile_ = AudioFormats::outboxName(own, owner_.inext, owner_.outext);
}

// An outbox name blocks the file only while it exists and is held open.
FileVerdict clsProcessorBase::examine(const QString& name, InboxVerdicts::Pass& pass) const
{
    const commonold::FileCheck inboxFile = pass.inbox.check(name, &pass.others);
    FileVerdict verdict;
    verdict.size = inboxFile.size;
    // The file being filed is held open by the filing itself, not by another program.
    const bool inHand = processing_ && name == currentInFile_;
    // A change time far ahead of the clock (another machine's) cannot be judged, and does not hold the file.
    const qint64 sinceChange = QDateTime::currentMSecsSinceEpoch() * 1000000 - inboxFile.changeTime;
    const bool changedJustNow = inboxFile.free && sinceChange < kStandStillNs && sinceChange > -kStandStillNs;
    verdict.inboxFree = (inboxFile.free && !changedJustNow) || inHand;
    verdict.settling = inboxFile.settling || (changedJustNow && !inHand);
    // A file that could not be removed after its copy would be copied again at every step.
    verdict.removable = inboxFile.removable && !isSetAside(name, inboxFile);
    verdict.putBack = putBack_.holds(name, inboxFile.inode, inboxFile.changeTime);
    verdict.outboxLocked =
        pass.hasOutboxName(name) &&
        !pass.outbox.check(AudioFormats::outboxName(name, owner_.inext, owner_.outext), &pass.others).free;
    return verdict;
}

// A file set aside stays so while it is the same file, unchanged.
bool clsProcessorBase::isSetAside(const QString& name, const commonold::FileCheck& file) const
{
    const auto found = setAside_.find(name);
    if (found == setAside_.end())
        return false;
    if (found->changeTime == 0) {
        found->inode = file.inode;
        found->changeTime = file.changeTime;
        return true;
    }
    if (found->inode == file.inode && found->changeTime == file.changeTime)
        return true;
    setAside_.erase(found);
    return false;
}

void clsProcessorBase::refreshVerdicts(bool askUnsettled)
{
    // Looked at once a step: the album walks of the step leave these folders alone.
    keptOut_ = {FolderIdentity::of(outboxPath_), FolderIdentity::of(errorsPath_)};
    putBack_.refresh();
    verdicts_.refresh({inboxPath_, outboxPath_, owner_.inext, owner_.outext}, examiner_, askUnsettled);
}

// Files held open were asked about by the last updatestats; here only what
// the kernel reported since is looked at, and the chosen file once more.
bool clsProcessorBase::getnextfile()
{
    status_.clear();
    albums_.clear();
    finishing_ = false;
    refreshVerdicts(false);
    if (verdicts_.count() == 0) {
        if (nextAlbumSong())
            return true;
        status_ += albumWaits_ ? kCannotProcess + albumHeld_ : noMusicStatus(int(verdicts_.leftAlone().size()));
        return false;
    }
    // A file left waiting for its destination goes behind the others, so one
    // blocked folder does not hold up the files bound elsewhere.
    const QString name = verdicts_.nextFileable(examiner_, waiting_);
    if (!name.isEmpty()) {
        if (waiting_.contains(name)) // all of them wait: try them again, in order
            waiting_.clear();
        setCurrentinfile(name);
        return true;
    }
    if (nextAlbumSong())
        return true;
    status_ += kCannotProcess;
    if (verdicts_.count() > 0) // the only file may have gone as it was looked at
        status_ += heldReason(verdicts_.name(0), verdicts_.verdict(0));
    return false;
}

// The first song of an album folder that stands still which can be filed
// now, by the same tests as a loose file; an album without songs left is
// finished on the way.
bool clsProcessorBase::nextAlbumSong()
{
    std::optional<double> freeBytes;
    albumWaits_ = false;
    albumHeld_.clear();
    for (const InboxVerdicts::LeftAlone& entry : verdicts_.leftAlone()) {
        if (!entry.folder)
            continue;
        AlbumFolder& folder = album(entry.name);
        if (folder.isFolder() && !folder.songs().isEmpty() && !albumWaits_) {
            albumWaits_ = true; // told unless a song is chosen
            if (!folder.standsStill())
                albumHeld_ = FileName::forDisplay(entry.name) +
                             QStringLiteral(" waits until it has not changed for a few seconds.");
        }
        if (!folder.isFolder() || !folder.standsStill())
            continue;
        if (folder.songs().isEmpty()) {
            if (!folder.hasWork(outboxPath_, companionsAside_))
                continue;
            setCurrentinfile(entry.name); // its companions are placed by the filing thread
            finishing_ = true;
            albums_.clear();
            return true;
        }
        if (!freeBytes)
            freeBytes = double(commonold::DiskFreeBytes(outboxPath_));
        for (const QString& song : folder.songs()) {
            const qsizetype slash = song.lastIndexOf(QLatin1Char('/'));
            const commonold::FileCheck check =
                ScanFolder(inboxPath_ + song.left(slash)).check(song.mid(slash + 1), nullptr);
            if (check.free && check.removable && !waiting_.contains(song) && !isSetAside(song, check) &&
                !putBack_.holds(song, check.inode, check.changeTime) &&
                commonold::FitsInFreeSpace(double(check.size), *freeBytes)) {
                setCurrentinfile(song);
                albums_.clear(); // the album changes as its song is filed
                return true;
            }
        }
    }
    return false;
}

// The album folder `name` as this step has walked it, walked now if it has not.
AlbumFolder& clsProcessorBase::album(const QString& name)
{
    auto found = albums_.find(name);
    if (found == albums_.end())
        found = albums_.emplace(name, AlbumFolder(inboxPath_, name, keptOut_)).first;
    return found->second;
}

// An inbox that holds no music but other things does not say it is empty.
QString clsProcessorBase::noMusicStatus(int leftAlone)
{
    if (leftAlone == 0)
        return kNoFiles;
    return leftAlone == 1 ? QStringLiteral("No music waiting; 1 other file is left alone.")
                          : QStringLiteral("No music waiting; %1 other files are left alone.").arg(leftAlone);
}

// Why the first file in line waits, where the counters alone do not tell.
QString clsProcessorBase::heldReason(const QString& name, const FileVerdict& verdict) const
{
    const QString shown = FileName::forDisplay(name);
    if (verdict.putBack)
        return shown + QStringLiteral(" was put back, so it waits until it changes or is filed again.");
    const auto aside = setAside_.constFind(name);
    if (!verdict.removable)
        return shown + QStringLiteral(" cannot be removed from the inbox") +
               (aside == setAside_.cend() ? QString() : QStringLiteral(" (") + aside->why + QLatin1Char(')')) +
               QStringLiteral(", so it is left alone.");
    if (verdict.settling)
        return shown + QStringLiteral(" waits until it has not changed for a few seconds.");
    return {};
}

void clsProcessorBase::updatestats()
{
    refreshVerdicts(true);
    // What is inside a folder is looked at on every pass: no event of the
    // inbox tells of it.
    QStringList albumSongs;
    for (size_t index = 0; index < verdicts_.leftAlone().size(); ++index) {
        if (!verdicts_.leftAlone()[index].folder)
            continue;
        const AlbumFolder& folder = album(verdicts_.leftAlone()[index].name);
        if (folder.isFolder())
            verdicts_.setReason(index, folder.reason());
        albumSongs += folder.songs();
    }
    albums_.clear();
    // The songs in folders are waiting music too, counted and listed with the loose ones.
    inboxCount_ = verdicts_.count() + int(albumSongs.size());
    inboxLockCount_ = verdicts_.inboxLockCount();
    tooBigCount_ = verdicts_.tooBigCount();
    outboxLockCount_ = verdicts_.outboxLockCount();
    if (inboxFiles_.isEmpty() || verdicts_.generation() != verdictsListed_ || albumSongs != albumSongs_) {
        verdictsListed_ = verdicts_.generation();
        albumSongs_ = albumSongs;
        ++listedGeneration_;
        QStringList names = albumSongs;
        names.reserve(inboxCount_);
        for (int index = 0; index < verdicts_.count(); ++index)
            names << verdicts_.name(index);
        std::sort(names.begin(), names.end(), ScanFolder::listedBefore);
        inboxFiles_ = QStringList{QString()} + names;
    }
}

QString clsProcessorBase::InboxFiles(int id) const
{
    if (id < 0 || id >= inboxFiles_.size())
        throw FilingError::subscriptOutOfRange();
    return inboxFiles_.at(id);
}

FilingJob clsProcessorBase::job() const
{
    return {inboxPath_, outboxPath_, errorsPath_, currentInFile_, currentOutFile_,
            QString(),  QString(),   finishing_,  keptOut_,       companionsAside_};
}

MoveResult clsProcessorBase::ErrorHandle(const FilingError& myerr, const SafeMove::Progress& progress)
{
    const MoveResult moved = ErrorHandle(job(), myerr, progress);
    processing_ = false;
    return moved;
}

MoveResult clsProcessorBase::ErrorHandle(const FilingJob& job, const FilingError& myerr,
                                         const SafeMove::Progress& progress)
{
    // Descriptions are this program's own texts; even so a "." or ".." one
    // must not put the file beside the errors folder.
    const QString cleaned = FitFolderName(commonold::CleanName(myerr.description()));
    const QString sub = cleaned.isEmpty() ? QString() : cleaned + QLatin1Char('/');
    SafeMove move(job.inboxpath, job.currentinfile);
    const QByteArray log = errorLog(myerr);
    // The errors folder keeps the outbox's margin, so a stream of bad files cannot fill its disk.
    if (!commonold::HasRoomFor(double(move.size() + log.size()), job.errorspath))
        throw FilingError::atDestination(ENOSPC, job.errorspath);
    SafeFolder::create(job.errorspath, job.errorspath + sub);
    const MoveResult moved = moveUnderFittingName(
        move, {job.errorspath, job.errorspath + sub, job.currentoutfile, QStringLiteral(".txt")}, progress);
    // The log follows its file's name, with its owner and mode, so the account
    // whose file failed can read why; a duplicate already has its log.
    if (moved.sourceRemoved && job.currentinfile.contains(QLatin1Char('/')))
        AlbumRecord::noteTaken(job.inboxpath, job.currentinfile);
    const struct stat like = move.filedAs();
    if (moved.sourceRemoved) // a file the reader stopped on has left the inbox
        FileInHand().forget(like);
    if (moved.outcome == MoveResult::Outcome::Filed)
        PartialCopy::writeNewFile(job.errorspath, job.errorspath + sub + LogNameFor(moved.name), log, &like);
    return moved;
}

void clsProcessorBase::turnon()
{
    setAside_.clear(); // a start tries the files set aside again, from its first step
    companionsAside_.clear();
    verdicts_.lookAtAllAgain();
    serviceOn_ = true;
}

void clsProcessorBase::turnoff()
{
    serviceOn_ = false;
}
