#include "runtime/posix_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

int ReadRegularFile(int fd, std::size_t maxSize, std::string& text) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    if (static_cast<std::size_t>(st.st_size) > maxSize)
        return EFBIG;
    const std::size_t start = text.size();
    text.reserve(start + static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (text.size() - start + static_cast<std::size_t>(n) > maxSize)
            return EFBIG;
        text.append(buffer, static_cast<std::size_t>(n));
    }
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
