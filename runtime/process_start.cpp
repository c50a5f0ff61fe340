#include "runtime/process_start.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>

void PrepareProcessStart() {
    std::signal(SIGPIPE, SIG_IGN);
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number, so this one.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened > 2)
            ::close(opened);
    }
}
