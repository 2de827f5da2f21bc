// tovrel-tag-reader: the child process the program reads tags in. It answers
// on the socket the program gives it as descriptor 3, one file at a time, and
// ends when the program closes the socket. Started by root, it reads as the
// unprivileged account "nobody" where the system has one: the files come to
// it open, and a fault in the tag library then reaches nothing else.
#include "engine/TagReaderProcess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kSocket = 3;
// Far above what the largest tag the reader takes needs; a file made to
// exhaust memory ends the child instead of the machine's memory.
constexpr rlim_t kMostMemory = rlim_t(2) << 30;

// False when root could not become the unprivileged account.
bool dropPrivileges()
{
    if (::geteuid() != 0)
        return true;
    const struct passwd* nobody = ::getpwnam("nobody");
    if (!nobody || nobody->pw_uid == 0)
        return true; // no such account here: it reads as the program does
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0 &&
           ::setuid(0) != 0;
}

} // namespace

int main()
{
    ::closefrom(kSocket + 1);
    if (!dropPrivileges())
        return 1;
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    const struct rlimit memory {
        kMostMemory, kMostMemory
    };
    ::setrlimit(RLIMIT_AS, &memory);
    return TagReaderProcess::serve(kSocket);
}
