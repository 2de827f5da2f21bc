#include "engine/clsProcessorBase.h"

#include "engine/FilingError.h"
#include "engine/FolderFormat.h"
#include "engine/InboxListing.h"
#include "engine/ProcessFileSnapshot.h"
#include "engine/SafeMove.h"
#include "engine/ServiceIndicators.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QFile>

#include <sys/stat.h>

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

clsProcessorBase::clsProcessorBase(const processor& owner) : owner_(owner)
{
}

void clsProcessorBase::setCurrentinfile(const QString& name)
{
    currentInFile_ = name;
    if (name.size() > 4)
        currentOutFile_ = withExtension(name, owner_.outext);
}

QString clsProcessorBase::outboxNameOf(const QString& name) const
{
    return outboxPath_ + withExtension(name, owner_.outext);
}

bool clsProcessorBase::outboxNameIsLocked(const QString& name, ProcessFileSnapshot& pass) const
{
    const QString outboxName = outboxNameOf(name);
    const bool free = commonold::FileIsFree(outboxName, &pass);
    return !free && commonold::FileExists(outboxName);
}

bool clsProcessorBase::hasRoomForInboxFile(const QString& name) const
{
    // A file that vanished since the listing has no length; it is not free
    // either, so it is not chosen whatever this answers.
    struct stat info;
    const double size = ::stat(QFile::encodeName(inboxPath_ + name).constData(), &info) == 0 ? info.st_size : 0;
    return commonold::HasRoomFor(size, outboxPath_);
}

bool clsProcessorBase::getnextfile()
{
    status_.clear();
    const QStringList names = ListInbox(inboxPath_, owner_.inext);
    if (names.isEmpty()) {
        status_ += kNoFiles;
        return false;
    }
    ProcessFileSnapshot pass;
    for (const QString& name : names) {
        bool ok = hasRoomForInboxFile(name);
        if (outboxNameIsLocked(name, pass))
            ok = false;
        if (!commonold::FileIsFree(inboxPath_ + name, &pass))
            ok = false;
        if (ok) {
            setCurrentinfile(name);
            return true;
        }
    }
    status_ += kCannotProcess;
    return false;
}

void clsProcessorBase::updatestats()
{
    const QStringList names = ListInbox(inboxPath_, owner_.inext);
    inboxCount_ = inboxLockCount_ = tooBigCount_ = outboxLockCount_ = 0;
    inboxFiles_ = QStringList{QString()};
    ProcessFileSnapshot pass;
    for (const QString& name : names) {
        inboxFiles_ << name;
        ++inboxCount_;
        if (!commonold::FileIsFree(inboxPath_ + name, &pass))
            ++inboxLockCount_;
        if (!hasRoomForInboxFile(name))
            ++tooBigCount_;
        if (outboxNameIsLocked(name, pass))
            ++outboxLockCount_;
    }
}

QString clsProcessorBase::InboxFiles(int id) const
{
    if (id < 0 || id >= inboxFiles_.size())
        throw FilingError::subscriptOutOfRange();
    return inboxFiles_.at(id);
}

void clsProcessorBase::ErrorHandle(const FilingError& myerr)
{
    // Descriptions are this program's own texts; even so a "." or ".." one
    // must not put the file beside the errors folder.
    const QString cleaned = OrdinaryFolderName(commonold::CleanName(myerr.description()));
    QString sub;
    if (!cleaned.isEmpty()) {
        sub = cleaned + QLatin1Char('/');
        if (!commonold::IsFolderValid(errorsPath_ + sub))
            SafeMove::createFolder(errorsPath_ + sub);
    }
    const QString target = errorsPath_ + sub + currentOutFile_;
    SafeMove::move(inboxPath_ + currentInFile_, target);
    SafeMove::writeFile(target + QStringLiteral(".txt"), errorLog(myerr));
    processing_ = false;
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
