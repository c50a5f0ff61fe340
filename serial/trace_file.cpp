#include "serial/trace_file.h"

#include "serial/platform/system_error.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

int FileError(int errnoValue) {
    return static_cast<int>(WindowsErrorFromErrno(errnoValue, ErrnoSite::OpenDevice));
}

} // namespace

int WriteTraceFile(const std::string& fileName, const std::string& text, bool append) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = ::open(fileName.c_str(), flags, 0666);
    if (fd < 0)
        return -FileError(errno);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            return -FileError(error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        return -FileError(errno);
    return 0;
}
