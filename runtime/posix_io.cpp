#include "runtime/posix_io.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

int FileDescriptor::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int FileDescriptor::Close() {
    if (fd_ < 0)
        return 0;
    const int error = ::close(Release()) == 0 ? 0 : errno;
    return error;
}

FileDescriptor OpenRetrying(const std::string& path, int flags, mode_t mode) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return FileDescriptor(fd);
}

int WriteAll(int fd, std::string_view data, std::size_t* written) {
    std::size_t done = 0;
    int error = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        error = n < 0 ? errno : ENOSPC;
        break;
    }
    if (written != nullptr)
        *written = done;
    return error;
}
