#include "serial/platform/comm_background_write.h"

#include "serial/platform/signal.h"
#include "serial/platform/system_error.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

CommBackgroundWrite::CommBackgroundWrite(int fd, std::vector<char> bytes, DWORD written,
                                         int timeoutMs, Signal* done)
    : fd_(fd), bytes_(std::move(bytes)), done_(done), written_(written) {
    wake_ = FileDescriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_.Valid()) {
        Finish(WindowsErrorFromErrno(errno, ErrnoSite::OpenDevice));
        return;
    }
    try {
        worker_ = std::thread([this, timeoutMs] { Run(timeoutMs); });
        started_ = true;
    } catch (const std::system_error&) {
        Finish(ERROR_NOT_ENOUGH_MEMORY);
    }
}

CommBackgroundWrite::~CommBackgroundWrite() {
    Cancel();
}

void CommBackgroundWrite::Cancel() {
    std::lock_guard join(joinMutex_);
    if (!worker_.joinable())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = write(wake_.Get(), &one, sizeof one);
    worker_.join();
}

bool CommBackgroundWrite::Result(bool wait, DWORD& written, DWORD& error) {
    std::unique_lock lock(mutex_);
    if (wait)
        ended_.wait(lock, [this] { return finished_; });
    written = written_;
    error = error_;
    return finished_;
}

void CommBackgroundWrite::Finish(DWORD error) {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        error_ = error;
    }
    ended_.notify_all();
    if (done_)
        done_->Set();
}

void CommBackgroundWrite::Run(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::size_t offset = 0;
    for (;;) {
        int waitMs = -1;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_.Get(), POLLIN, 0}};
        const int ready = poll(fds, 2, waitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Finish(WindowsErrorFromErrno(errno, ErrnoSite::OpenDevice));
        if (fds[1].revents & POLLIN)
            return Finish(ERROR_OPERATION_ABORTED);
        // A write whose time ran out completes with what it wrote, as a Windows one does.
        if (ready == 0)
            return Finish(ERROR_SUCCESS);
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return Finish(ERROR_DEVICE_NOT_CONNECTED);
        const DWORD error = WriteSome(offset);
        if (error != ERROR_SUCCESS || offset == bytes_.size())
            return Finish(error);
    }
}

DWORD CommBackgroundWrite::WriteSome(std::size_t& offset) {
    const ssize_t n = write(fd_, bytes_.data() + offset, bytes_.size() - offset);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR
                   ? ERROR_SUCCESS
                   : WindowsErrorFromErrno(errno, ErrnoSite::OpenDevice);
    offset += static_cast<std::size_t>(n);
    std::lock_guard lock(mutex_);
    written_ += static_cast<DWORD>(n);
    return ERROR_SUCCESS;
}
