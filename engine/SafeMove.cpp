#include "engine/SafeMove.h"

#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/Folders.h"
#include "engine/FreeNames.h"
#include "engine/PartialCopy.h"
#include "engine/SafeFolder.h"
#include "engine/SystemCalls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using Slot = FreeNames::Slot;

} // namespace

SafeMove::SafeMove(const QString& source) : source_(source) {}

SafeMove::SafeMove(const QString& folder, const QString& below) : source_(folder, below) {}

void SafeMove::replaceContent(const QByteArray& bytes)
{
    const int fd = ::memfd_create("tovrel-content", MFD_CLOEXEC);
    if (fd < 0 || !FileCopy::writeAll(fd, bytes.constData(), bytes.size(), 0)) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        throwErrno(err);
    }
    if (contentFd_ >= 0)
        ::close(contentFd_);
    contentFd_ = fd;
    contentSize_ = bytes.size();
}

SafeMove::~SafeMove()
{
    if (contentFd_ >= 0)
        ::close(contentFd_);
    // the source is closed after this, which ends the lease
}

MoveResult SafeMove::moveTo(const Destination& to, const Progress& progress)
{
    if (source_.changed()) {
        source_.giveUp();
        return {};
    }
    keepSource_ = to.keepSource;
    const int destinationFd = SafeFolder::open(to.root, to.folder);
    const Closer closeDestination{destinationFd};
    const QByteArray wanted = FileName::encode(to.name);
    const QByteArray companion = FileName::encode(to.companion);
    // A file filed inside the folder it is taken from (the inbox inside the
    // outbox, a link back into it) would be taken from there again.
    if (!to.underSource && source_.folderInfo().st_ino != 0 && Folders::isWithin(destinationFd, source_.folderInfo()))
        throw FilingError::refusedFolder(to.folder, QStringLiteral("Folder inside the one the file is taken from"));
    const FreeNames names(destinationFd, source_.info(), content(), contentSize());
    int number = 1;
    if (std::optional<MoveResult> duplicate =
            duplicateBeforeCopy(names, wanted, companion, to.folder, progress, number))
        return *duplicate;
    for (const bool inDestination : {false, true}) {
        PartialCopy copy(to.root, destinationFd, inDestination, to.folder);
        if (!FileCopy::copyInto(content(), contentSize(), copy.fd, progress, to.folder,
                                [this] { return source_.changed(); }) ||
            !source_.stillTheSameFile()) {
            source_.giveUp();
            return {};
        }
        FileCopy::keepPermissionsAndTimes(copy.fd, source_.filedAs());
        struct stat copied;
        if (::fstat(copy.fd, &copied) != 0 || !copy.finish())
            blame(to.folder);
        // A name may be taken between the look above and the rename: the rename refuses it and the next is tried.
        for (; number <= FreeNames::kMostNumbers; ++number) {
            const QByteArray name = FreeNames::numbered(wanted, number);
            if (!companion.isEmpty() && names.slotAt(name, companion) != Slot::Free)
                continue;
            if (FreeNames::renameNoReplace(copy.folderFd, copy.name, destinationFd, name) == 0) {
                copy.placed();
                ::fsync(destinationFd);
                // A copy written beside its destination, in a folder others may
                // write in, could have been swapped before the rename: the source
                // then stays.
                struct stat landed;
                if (::fstatat(destinationFd, name.constData(), &landed, AT_SYMLINK_NOFOLLOW) != 0 ||
                    landed.st_dev != copied.st_dev || landed.st_ino != copied.st_ino)
                    throw FilingError::refusedFolder(to.folder, QStringLiteral("Copy replaced by another account"));
                return placed(MoveResult::Outcome::Filed, name, to.folder, number > 1);
            }
            if (errno == EXDEV && !inDestination)
                break; // the folders are different file systems after all: copy again, into the destination
            if (errno != EEXIST)
                blame(to.folder);
            if (names.slotAt(name, {}) == Slot::Same)
                return placed(MoveResult::Outcome::Duplicate, name, to.folder);
        }
        if (number > FreeNames::kMostNumbers)
            blame(to.folder, EEXIST);
    }
    blame(to.folder, EXDEV);
}

// Names taken by other files are passed over before anything is copied:
// `number` is left at the first free one. A name that already holds these
// very bytes makes the move a duplicate, which is answered.
std::optional<MoveResult> SafeMove::duplicateBeforeCopy(const FreeNames& names, const QByteArray& wanted,
                                                        const QByteArray& companion, const QString& folder,
                                                        const Progress& progress, int& number)
{
    try {
        for (Slot slot; (slot = names.slotAt(FreeNames::numbered(wanted, number), companion, progress)) != Slot::Free;
             ++number) {
            if (slot == Slot::Same)
                return placed(MoveResult::Outcome::Duplicate, FreeNames::numbered(wanted, number), folder);
            if (number >= FreeNames::kMostNumbers)
                throwErrno(EEXIST);
        }
        // A free number is not enough: the same song may stand under a later one, past a gap.
        if (number > 1) {
            if (const QByteArray same = names.numberedCopy(wanted, progress); !same.isEmpty())
                return placed(MoveResult::Outcome::Duplicate, same, folder);
        }
    } catch (const FilingError& error) { // the destination folder cannot be looked at, or is full of the name
        blame(folder, error.lastDllError());
    }
    return std::nullopt;
}

MoveResult SafeMove::placed(MoveResult::Outcome outcome, const QByteArray& name, const QString& folder, bool numbered)
{
    const bool removed = !keepSource_ && source_.remove();
    return {outcome, FileName::decode(name), removed, folder, source_.notRemovedWhy(), numbered};
}
