#include "window/ProcessPriority.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/types.h>

namespace {

// Realtime is round-robin at the lowest real-time priority; High and Normal
// are ordinary scheduling at nice -10 and 0; Low is the idle level, below any
// nice value.
void applyToThread(pid_t thread, ProcessPriority priority)
{
    sched_param param{};
    switch (priority) {
    case ProcessPriority::Realtime:
        param.sched_priority = 1;
        sched_setscheduler(thread, SCHED_RR, &param);
        break;
    case ProcessPriority::High:
        sched_setscheduler(thread, SCHED_OTHER, &param);
        setpriority(PRIO_PROCESS, id_t(thread), -10);
        break;
    case ProcessPriority::Normal:
        sched_setscheduler(thread, SCHED_OTHER, &param);
        setpriority(PRIO_PROCESS, id_t(thread), 0);
        break;
    case ProcessPriority::Low:
        sched_setscheduler(thread, SCHED_IDLE, &param);
        break;
    }
}

} // namespace

void SetProcessPriority(ProcessPriority priority)
{
    // Linux schedules threads, not processes: every thread listed in
    // /proc/self/task gets the level.
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] != '.')
            applyToThread(pid_t(std::atoi(entry->d_name)), priority);
    }
    closedir(tasks);
}

// The calling thread stands for the process: every choice is applied to all.
std::optional<ProcessPriority> ProcessPriorityInForce()
{
    switch (sched_getscheduler(0)) {
    case SCHED_RR:
        return ProcessPriority::Realtime;
    case SCHED_IDLE:
        return ProcessPriority::Low;
    case SCHED_OTHER: {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, 0);
        if (nice == -10 && errno == 0)
            return ProcessPriority::High;
        if (nice == 0 && errno == 0)
            return ProcessPriority::Normal;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}
