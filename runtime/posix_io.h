#pragma once
// The POSIX calls that files and devices are written with in every layer: a descriptor that
// closes itself, an open that a signal does not cut short, and a write that writes everything or
// says why it could not.

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

// Owns one open file descriptor and closes it when it goes. Move-only.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Close(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release();
    // Closes it now: 0, or the errno of close(2). The descriptor is gone either way (on Linux
    // even after EINTR), so it is never closed twice.
    int Close();

private:
    int fd_ = -1;
};

// open(2), repeated while a signal interrupts it. Not Valid() on failure, with errno set.
FileDescriptor OpenRetrying(const std::string& path, int flags, mode_t mode = 0);

// Appends the whole of the regular file open on fd to text, at most maxSize bytes. Returns 0 or
// the errno of the failure: EINVAL when fd is no regular file (a FIFO, a device), EFBIG when it
// holds more than maxSize. What was read before a failure stays in text.
int ReadRegularFile(int fd, std::size_t maxSize, std::string& text);

// Writes all of data, continuing after short writes and signals. Returns 0 or the errno of the
// failure; a write that makes no progress and reports no error counts as ENOSPC (nothing fits).
// written, when given, receives the number of bytes that did go.
int WriteAll(int fd, std::string_view data, std::size_t* written = nullptr);
