#include "engine/clsProcessorBase.h"

#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/FolderFormat.h"
#include "engine/ProcessFileSnapshot.h"
#include "engine/SafeMove.h"
#include "engine/ScanFolder.h"
#include "engine/ServiceIndicators.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <unordered_set>

namespace {

const QString kNoFiles = QStringLiteral("No files in inbox.  ");
const QString kCannotProcess = QStringLiteral("Cannot Process files yet.  ");

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

// The name without its last four characters (".mp3"), then "." and `extension`.
QString withExtension(const QString& name, const QString& extension)
{
    return name.left(qMax<qsizetype>(0, name.size() - 4)) + QLatin1Char('.') + extension;
}

} // namespace

clsProcessorBase::clsProcessorBase(const processor& owner) : owner_(owner) {}

void clsProcessorBase::setCurrentinfile(const QString& name)
{
    currentInFile_ = name;
    if (name.size() > 4)
        currentOutFile_ = withExtension(name, owner_.outext);
}

// What a pass over the inbox opens or measures once rather than for every file:
// the two folders, the free space of the outbox disk, the names in the outbox
// root, and any look at other processes.
struct clsProcessorBase::Pass {
    Pass(const QString& inboxpath, const QString& outboxpath, const QString& outext)
        : inbox(inboxpath), outbox(outboxpath), outboxFree(double(commonold::DiskFreeBytes(outboxpath))),
          outboxNames(outbox.allNames())
    {
        // An inbox file's outbox name is its name less the last four characters,
        // then "." and the output extension: such names are looked up by that stem.
        const QString ending = QLatin1Char('.') + outext;
        for (const QString& name : std::as_const(outboxNames)) {
            if (name.endsWith(ending))
                outboxStems.insert(QStringView(name).chopped(ending.size()));
        }
    }
    bool hasOutboxName(const QString& inboxName) const
    {
        return outboxStems.count(QStringView(inboxName).chopped(qMin<qsizetype>(4, inboxName.size()))) > 0;
    }

    struct ViewHash {
        size_t operator()(QStringView view) const { return qHash(view); }
    };
    ScanFolder inbox;
    ScanFolder outbox;
    double outboxFree;
    const QStringList outboxNames; // the text the stems below point into
    std::unordered_set<QStringView, ViewHash> outboxStems;
    ProcessFileSnapshot others;
};

clsProcessorBase::Verdict clsProcessorBase::examine(const QString& name, Pass& pass) const
{
    Verdict verdict;
    const commonold::FileCheck inboxFile = pass.inbox.check(name, &pass.others);
    verdict.inboxFree = inboxFile.free;
    verdict.settling = inboxFile.settling;
    // A file that could not be removed after its copy would be copied again at every step.
    verdict.removable = inboxFile.removable;
    verdict.fits = commonold::FitsInFreeSpace(double(inboxFile.size), pass.outboxFree);
    // An outbox name blocks the file only while it exists and is held open.
    verdict.outboxLocked =
        pass.hasOutboxName(name) && !pass.outbox.check(withExtension(name, owner_.outext), &pass.others).free;
    return verdict;
}

bool clsProcessorBase::getnextfile()
{
    status_.clear();
    Pass pass(inboxPath_, outboxPath_, owner_.outext);
    const QStringList names = pass.inbox.filesWithExtension(owner_.inext);
    if (names.isEmpty()) {
        status_ += kNoFiles;
        return false;
    }
    // A file left waiting for its destination goes behind the others, so one
    // blocked folder does not hold up the files bound elsewhere.
    QString reason;
    QString waitingOne;
    for (const QString& name : names) {
        const Verdict verdict = examine(name, pass);
        if (&name == &names.first() && !verdict.canBeFiled())
            reason = heldReason(name, verdict);
        if (!verdict.canBeFiled())
            continue;
        if (!waiting_.contains(name)) {
            setCurrentinfile(name);
            return true;
        }
        if (waitingOne.isEmpty())
            waitingOne = name;
    }
    if (!waitingOne.isEmpty()) { // all of them wait: try them again, in order
        waiting_.clear();
        setCurrentinfile(waitingOne);
        return true;
    }
    status_ += kCannotProcess + reason;
    return false;
}

// Why the first file in line waits, where the counters alone do not tell.
QString clsProcessorBase::heldReason(const QString& name, const Verdict& verdict)
{
    const QString shown = FileName::forDisplay(name);
    if (!verdict.removable)
        return shown + QStringLiteral(" cannot be removed from the inbox, so it is left alone.");
    if (verdict.settling)
        return shown + QStringLiteral(" waits until it has not changed for a few seconds.");
    return {};
}

void clsProcessorBase::updatestats()
{
    Pass pass(inboxPath_, outboxPath_, owner_.outext);
    const QStringList names = pass.inbox.filesWithExtension(owner_.inext);
    inboxCount_ = inboxLockCount_ = tooBigCount_ = outboxLockCount_ = 0;
    inboxFiles_ = QStringList{QString()};
    for (const QString& name : names) {
        inboxFiles_ << name;
        ++inboxCount_;
        const Verdict verdict = examine(name, pass);
        inboxLockCount_ += !verdict.inboxFree || !verdict.removable;
        tooBigCount_ += !verdict.fits;
        outboxLockCount_ += verdict.outboxLocked;
    }
}

QString clsProcessorBase::InboxFiles(int id) const
{
    if (id < 0 || id >= inboxFiles_.size())
        throw FilingError::subscriptOutOfRange();
    return inboxFiles_.at(id);
}

MoveResult clsProcessorBase::ErrorHandle(const FilingError& myerr, const SafeMove::Progress& progress)
{
    // Descriptions are this program's own texts; even so a "." or ".." one
    // must not put the file beside the errors folder.
    const QString cleaned = FitFolderName(commonold::CleanName(myerr.description()));
    QString sub;
    if (!cleaned.isEmpty()) {
        sub = cleaned + QLatin1Char('/');
        SafeMove::createFolderIfMissing(errorsPath_ + sub);
    }
    SafeMove move(inboxPath_ + currentInFile_);
    const MoveResult moved =
        move.moveTo({errorsPath_, errorsPath_ + sub, currentOutFile_, QStringLiteral(".txt")}, progress);
    // The log follows its file's name; a duplicate already has its own.
    if (moved.outcome == MoveResult::Outcome::Filed)
        SafeMove::writeNewFile(errorsPath_, errorsPath_ + sub + LogNameFor(moved.name), errorLog(myerr));
    processing_ = false;
    return moved;
}

void clsProcessorBase::turnon()
{
    if (indicators_) {
        indicators_->setStartEnabled(false);
        indicators_->setStopEnabled(true);
    }
    serviceOn_ = true;
    if (indicators_) {
        indicators_->setLightGreen(true);
        indicators_->setWindowIconImage(1);
        indicators_->setConfigEnabled(false);
        indicators_->setTrayIconImage(owner_.iconref + 1);
    }
}

void clsProcessorBase::turnoff()
{
    if (indicators_) {
        indicators_->setStopEnabled(false);
        indicators_->setStartEnabled(true);
    }
    serviceOn_ = false;
    if (indicators_) {
        indicators_->setLightGreen(false);
        indicators_->setWindowIconImage(2);
        indicators_->setConfigEnabled(true);
        indicators_->setTrayIconImage(owner_.iconref);
    }
}
