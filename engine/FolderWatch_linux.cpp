#include "engine/FolderWatch.h"

#include "engine/FileName.h"

#include <cerrno>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

constexpr uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_OPEN | IN_CLOSE_WRITE |
                                 IN_CLOSE_NOWRITE | IN_ATTRIB | IN_MODIFY;
constexpr uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

// File systems whose changes can come from other machines, or from a program
// behind FUSE, without the kernel here hearing of them.
bool changesGoUnreported(const QByteArray& folder)
{
    struct statfs info;
    if (::statfs(folder.constData(), &info) != 0)
        return true;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE
    case 0x01021997: // 9P
    case 0x00C36400: // Ceph
    case 0x5346414F: // AFS
    case 0x73757245: // Coda
        return true;
    default:
        return false;
    }
}

// Takes one expected event of `name` off `expected`; false when none was expected.
bool takeExpected(QHash<QByteArray, int>& expected, const QByteArray& name)
{
    const auto found = expected.find(name);
    if (found == expected.end())
        return false;
    if (--found.value() == 0)
        expected.erase(found);
    return true;
}

} // namespace

FolderWatch::~FolderWatch()
{
    stop();
}

bool FolderWatch::watch(const QString& folder)
{
    stop();
    folder_ = folder;
    const QByteArray path = FileName::encode(folder.isEmpty() ? QStringLiteral("/") : folder);
    struct stat info;
    if (::stat(path.constData(), &info) != 0 || changesGoUnreported(path))
        return false;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0)
        return false;
    if (::inotify_add_watch(fd_, path.constData(), kNameEvents | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        stop();
        return false;
    }
    device_ = info.st_dev;
    inode_ = info.st_ino;
    return true;
}

void FolderWatch::stop()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    ownOpens_.clear();
    ownCloses_.clear();
}

void FolderWatch::collect(Changes& changes)
{
    if (fd_ < 0)
        return;
    alignas(struct inotify_event) char buffer[64 * 1024];
    bool gone = false;
    for (;;) {
        const ssize_t length = ::read(fd_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0) {
            gone = length < 0 && errno != EAGAIN;
            break;
        }
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += ssize_t(sizeof(struct inotify_event)) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                // Lost events may include the opens and closes of our own looks.
                changes.lookAgain = true;
                ownOpens_.clear();
                ownCloses_.clear();
            }
            gone = gone || (event->mask & kFolderGone);
            if (event->len == 0 || !(event->mask & kNameEvents))
                continue; // the folder's own opens and closes: our own listings
            const QByteArray name(event->name);
            if ((event->mask & IN_OPEN) && takeExpected(ownOpens_, name))
                continue;
            if ((event->mask & IN_CLOSE_NOWRITE) && takeExpected(ownCloses_, name))
                continue;
            changes.names.insert(name);
        }
    }
    // A folder removed, renamed or put in another's place: whatever is at the
    // path now is watched afresh and looked at in full.
    struct stat info;
    const QByteArray path = FileName::encode(folder_.isEmpty() ? QStringLiteral("/") : folder_);
    if (gone || ::stat(path.constData(), &info) != 0 || quint64(info.st_dev) != device_ ||
        quint64(info.st_ino) != inode_) {
        changes.lookAgain = true;
        watch(folder_);
    }
}

void FolderWatch::expectOwnLook(const QByteArray& name)
{
    if (fd_ < 0)
        return;
    ++ownOpens_[name];
    ++ownCloses_[name];
}
