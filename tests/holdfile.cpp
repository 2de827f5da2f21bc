// holdfile MODE PATH: holds PATH as MODE says, prints "ready", and lets go when its standard input closes. MODE is
// read, write, mmap (mapped, with the descriptor closed) or flock (opened for reading with an exclusive lock).
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 3)
        return 2;
    const char* mode = argv[1];
    const bool write = std::strcmp(mode, "write") == 0;
    const int fd = ::open(argv[2], write ? O_WRONLY | O_APPEND : O_RDONLY);
    if (fd < 0)
        return 1;
    if (std::strcmp(mode, "mmap") == 0) {
        struct stat info;
        if (::fstat(fd, &info) != 0 ||
            ::mmap(nullptr, info.st_size ? info.st_size : 1, PROT_READ, MAP_SHARED, fd, 0) == MAP_FAILED)
            return 1;
        ::close(fd);
    } else if (std::strcmp(mode, "flock") == 0 && ::flock(fd, LOCK_EX) != 0) {
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char buffer[64];
    while (::read(0, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
