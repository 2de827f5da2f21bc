#include "engine/ProcessFileSnapshot.h"

#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

bool isNumber(const char* name)
{
    if (!*name)
        return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9')
            return false;
    return true;
}

// Adds what /proc/<pid>/fd points at. stat() on the magic links reaches the
// open file itself, whatever mount namespace the process lives in.
// False when the process's table could not be read while it still runs.
bool addOpenFiles(const QByteArray& procDir, std::set<std::pair<quint64, quint64>>& held)
{
    const QByteArray fdDir = procDir + "/fd";
    DIR* dir = ::opendir(fdDir.constData());
    if (!dir)
        return errno == ENOENT; // not ours to read: counts as holding nothing
    while (const dirent* entry = ::readdir(dir)) {
        if (!isNumber(entry->d_name))
            continue;
        struct stat info;
        if (::stat((fdDir + '/' + entry->d_name).constData(), &info) == 0 && S_ISREG(info.st_mode))
            held.emplace(info.st_dev, info.st_ino);
    }
    ::closedir(dir);
    return true;
}

// Adds the files mapped into the process: "start-end perms offset maj:min inode path".
void addMappedFiles(const QByteArray& procDir, std::set<std::pair<quint64, quint64>>& held)
{
    FILE* maps = std::fopen((procDir + "/maps").constData(), "re");
    if (!maps)
        return;
    char line[4096];
    while (std::fgets(line, sizeof line, maps)) {
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line, "%*s %*s %*s %x:%x %llu", &major, &minor, &inode) == 3 && inode != 0)
            held.emplace(makedev(major, minor), inode);
    }
    std::fclose(maps);
}

} // namespace

bool ProcessFileSnapshot::isHeldElsewhere(quint64 device, quint64 inode)
{
    if (!taken_)
        take();
    return held_.count({device, inode}) > 0;
}

bool ProcessFileSnapshot::seesEveryProcess()
{
    if (!taken_)
        take();
    return seesEveryProcess_;
}

void ProcessFileSnapshot::take()
{
    taken_ = true;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return;
    const QByteArray self = QByteArray::number(::getpid());
    while (const dirent* entry = ::readdir(proc)) {
        if (!isNumber(entry->d_name) || self == entry->d_name)
            continue;
        const QByteArray procDir = QByteArray("/proc/") + entry->d_name;
        seesEveryProcess_ = addOpenFiles(procDir, held_) && seesEveryProcess_;
        addMappedFiles(procDir, held_);
    }
    ::closedir(proc);
}
