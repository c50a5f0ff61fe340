#include "serial/platform/comm_device.h"

#include "runtime/posix_io.h"
#include "serial/platform/comm_api.h"
#include "serial/platform/comm_background_write.h"
#include "serial/platform/comm_custom_baud.h"
#include "serial/platform/comm_line_settings.h"
#include "serial/platform/signal.h"
#include "serial/platform/system_error.h"
#include "serial/platform/tty_drivers.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Events a wait accepts; the ring trailing-edge event is refused, as Windows NT drivers do.
constexpr DWORD supportedEvents = 0x1FFF;
// Line and error events that need sampling, which a device with modem lines gets every 100 ms.
// The kernel's counters keep every change between two samples, so a longer period only delays
// these events; sampling eight idle ports every 10 ms cost several per cent of a core.
constexpr DWORD sampledEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_ERR | EV_BREAK;
constexpr int samplePeriodMs = 100;
// A line that keeps sending is read a few lines at a time instead of at every line, or, from a
// real UART, at every FIFO's worth: each wake-up of the port's thread costs more than reading
// what came in the meantime. Only a line whose bytes came less than busyGap apart, in small
// reads, is read late, and by at most lingerMs; a flood is read at once, a line that reports
// now and then the moment its line ends.
constexpr int lingerMs = 8;
constexpr auto busyGap = std::chrono::milliseconds(2 * lingerMs);
constexpr std::uint32_t smallRead = 1024;
// A driver may round a numeric rate; beyond this it did not take it.
constexpr DWORD rateTolerancePercent = 3;

DWORD DeviceError(int error) {
    return WindowsErrorFromErrno(error, ErrnoSite::OpenDevice);
}

// Raises or drops modem lines; a device without them (a pseudo-terminal) ignores the request.
DWORD ChangeLines(int fd, int lines, bool on) {
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &lines) == 0 || IoctlUnsupported(errno))
        return ERROR_SUCCESS;
    return DeviceError(errno);
}

DWORD Ioctl(int fd, unsigned long request) {
    if (ioctl(fd, request) == 0 || IoctlUnsupported(errno))
        return ERROR_SUCCESS;
    return DeviceError(errno);
}

DWORD OpenError(int error) {
    return WindowsErrorFromErrno(error, ErrnoSite::Opening);
}

} // namespace

std::shared_ptr<CommDevice> CommDevice::Open(const std::string& path, DWORD& error) {
    // Only a terminal is opened: an open alone can act on another device (it arms a watchdog).
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0) {
        error = OpenError(errno);
        return nullptr;
    }
    if (!S_ISCHR(node.st_mode) || !IsTtyDevice(node.st_rdev)) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    FileDescriptor device = OpenRetrying(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (!device.Valid()) {
        error = OpenError(errno);
        return nullptr;
    }
    const int fd = device.Get();
    // The name may have been pointed elsewhere between the check and the open.
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || opened.st_rdev != node.st_rdev) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        error = OpenError(errno);
        return nullptr;
    }
    // The lock is what keeps a second open out, in this process too and for root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = OpenError(errno);
        return nullptr;
    }
    // Against programs that do not lock; root ignores it.
    ioctl(fd, TIOCEXCL);
    const termios original = settings;
    QuietTermios(settings);
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        error = OpenError(errno);
        return nullptr;
    }
    FileDescriptor wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.Valid()) {
        error = OpenError(errno);
        return nullptr;
    }
    LineSample lines;
    lines.HasModemLines = lines.HasCounters = true;
    SampleLine(fd, lines);
    error = ERROR_SUCCESS;
    return std::shared_ptr<CommDevice>(
        new CommDevice(std::move(device), std::move(wake), lines, original));
}

CommDevice::CommDevice(FileDescriptor device, FileDescriptor wake, const LineSample& lines,
                       const termios& original)
    : device_(std::move(device)), wake_(std::move(wake)), fd_(device_.Get()), wakeFd_(wake_.Get()),
      original_(std::make_unique<termios>(original)), waitLines_(lines), errorLines_(lines) {}

CommDevice::~CommDevice() {
    Close();
}

void CommDevice::Close() {
    {
        std::lock_guard lock(writeMutex_);
        if (pendingWrite_)
            pendingWrite_->Cancel();
    }
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        closed_ = true;
        // The terminal may be another program's too: it gets back the settings it had.
        tcsetattr(fd_, TCSANOW, original_.get());
    }
    Wake();
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
}

DWORD CommDevice::SetupQueues(DWORD inQueue, DWORD outQueue) {
    // The kernel sizes its own queues; the request is only checked.
    return inQueue == 0 || outQueue == 0 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

DWORD CommDevice::GetState(DCB& dcb) {
    std::lock_guard lock(mutex_);
    // What was written, not what the device reports: a pseudo-terminal rewrites the character
    // format, and DSR flow, DTR handshake and the XON/XOFF limits have no termios home.
    if (stateWritten_) {
        dcb = state_;
        return ERROR_SUCCESS;
    }
    termios settings{};
    if (tcgetattr(fd_, &settings) != 0)
        return DeviceError(errno);
    DWORD customBaud = 0;
    if (HasCustomBaud(settings)) {
        if (const int error = GetCustomBaud(fd_, customBaud); error != 0)
            return DeviceError(error);
    }
    dcb = DcbFromTermios(settings, customBaud);
    return ERROR_SUCCESS;
}

DWORD CommDevice::SetState(const DCB& dcb) {
    std::lock_guard lock(mutex_);
    const DWORD error = ApplyState(dcb);
    if (error != ERROR_SUCCESS)
        return error;
    ApplyModemLines(dcb);
    state_ = dcb;
    stateWritten_ = true;
    return ERROR_SUCCESS;
}

// Writes the termios settings and checks that the device took them; a refusal restores what
// was there.
DWORD CommDevice::ApplyState(const DCB& dcb) {
    termios before{};
    if (tcgetattr(fd_, &before) != 0)
        return DeviceError(errno);
    DWORD beforeCustom = 0;
    if (HasCustomBaud(before))
        GetCustomBaud(fd_, beforeCustom);
    termios wanted = before;
    DWORD customBaud = 0;
    if (const DWORD error = DcbToTermios(dcb, wanted, customBaud); error != ERROR_SUCCESS)
        return error;

    int failure = tcsetattr(fd_, TCSANOW, &wanted) == 0 ? 0 : errno;
    // The C library calls a character format the terminal rewrote EINVAL, though the rest was
    // applied; the read-back below decides whether the device took the settings.
    if (failure == EINVAL)
        failure = 0;
    if (failure == 0 && customBaud != 0)
        failure = SetCustomBaud(fd_, customBaud);
    bool taken = failure == 0;
    if (taken) {
        termios readBack{};
        DWORD actual = 0;
        if (tcgetattr(fd_, &readBack) != 0)
            return DeviceError(errno);
        taken = SettingsTaken(wanted, readBack, customBaud != 0, !waitLines_.HasModemLines);
        if (taken && customBaud != 0)
            taken = GetCustomBaud(fd_, actual) == 0 &&
                    (actual > customBaud ? actual - customBaud : customBaud - actual) * 100 <=
                        customBaud * rateTolerancePercent;
    }
    if (taken)
        return ERROR_SUCCESS;
    tcsetattr(fd_, TCSANOW, &before);
    if (beforeCustom != 0)
        SetCustomBaud(fd_, beforeCustom);
    return failure != 0 ? DeviceError(failure) : ERROR_INVALID_PARAMETER;
}

void CommDevice::ApplyModemLines(const DCB& dcb) {
    ChangeLines(fd_, TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE);
    // Under the kernel's handshake RTS is the driver's; a toggling RTS rests low.
    if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE)
        ChangeLines(fd_, TIOCM_RTS, dcb.fRtsControl == RTS_CONTROL_ENABLE);
}

DWORD CommDevice::GetTimeouts(COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(mutex_);
    timeouts = timeouts_;
    return ERROR_SUCCESS;
}

DWORD CommDevice::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return ERROR_SUCCESS;
}

DWORD CommDevice::GetMask(DWORD& mask) {
    std::lock_guard lock(mutex_);
    mask = mask_;
    return ERROR_SUCCESS;
}

DWORD CommDevice::SetMask(DWORD mask) {
    {
        std::lock_guard lock(mutex_);
        mask_ = mask;
        ++generation_;
        // Changes before the new mask are not events of it.
        SampleLine(fd_, waitLines_);
    }
    Wake();
    return ERROR_SUCCESS;
}

void CommDevice::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = write(wakeFd_, &one, sizeof one);
}

void CommDevice::DrainWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto ignored = read(wakeFd_, &count, sizeof count);
}

DWORD CommDevice::StartWait(DWORD* events, OVERLAPPED* overlapped) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (mask_ == 0 || (mask_ & ~supportedEvents) != 0)
            return ERROR_INVALID_PARAMETER;
        if (overlapped) {
            // One wait at a time, as a Windows port allows.
            if (waitBlock_ && waitBlock_ != overlapped)
                return ERROR_INVALID_PARAMETER;
            waitBlock_ = overlapped;
            waitEvents_ = events;
            waitGeneration_ = generation_;
            return ERROR_IO_PENDING;
        }
        generation = generation_;
    }
    DWORD seen = 0;
    const DWORD error = AwaitEvents(generation, true, seen);
    if (events)
        *events = error == ERROR_SUCCESS ? seen : 0;
    return error;
}

DWORD CommDevice::CompleteOverlapped(OVERLAPPED* overlapped, DWORD& transferred, bool wait) {
    transferred = 0;
    {
        std::unique_lock lock(mutex_);
        if (overlapped == waitBlock_) {
            DWORD* events = waitEvents_;
            const std::uint64_t generation = waitGeneration_;
            lock.unlock();
            return EndWait(overlapped, events, generation, wait);
        }
    }
    std::shared_ptr<CommBackgroundWrite> write;
    {
        std::lock_guard lock(writeMutex_);
        if (overlapped == writeBlock_)
            write = pendingWrite_;
    }
    if (write) {
        const DWORD error = EndWrite(overlapped, write, wait);
        if (error != ERROR_IO_INCOMPLETE)
            transferred = overlapped->InternalHigh;
        return error;
    }
    transferred = overlapped->InternalHigh;
    return overlapped->Internal;
}

DWORD CommDevice::EndWait(OVERLAPPED* overlapped, DWORD* events, std::uint64_t generation,
                          bool wait) {
    DWORD seen = 0;
    const DWORD error = AwaitEvents(generation, wait, seen);
    if (error == ERROR_IO_INCOMPLETE)
        return error;
    {
        std::lock_guard lock(mutex_);
        if (waitBlock_ == overlapped)
            waitBlock_ = nullptr;
    }
    if (events)
        *events = error == ERROR_SUCCESS ? seen : 0;
    overlapped->Internal = error;
    overlapped->InternalHigh = 0;
    if (overlapped->hEvent)
        overlapped->hEvent->Set();
    return error;
}

// Waits until an event of the mask arrives, the mask changes (success with no events), the
// handle is closed or the device goes away. A device that hung up stays failed, so a caller that
// waits again fails at once instead of spinning on a hang-up that poll reports for ever.
DWORD CommDevice::AwaitEvents(std::uint64_t generation, bool wait, DWORD& events) {
    events = 0;
    bool linger = false;
    {
        std::lock_guard lock(mutex_);
        const std::uint32_t taken = readSinceData_.exchange(0, std::memory_order_relaxed);
        linger = wait && (mask_ & EV_RXCHAR) != 0 && taken > 0 && taken < smallRead &&
                 dataGap_ < busyGap;
    }
    const auto lingerEnd =
        linger ? std::chrono::steady_clock::now() + std::chrono::milliseconds(lingerMs)
               : std::chrono::steady_clock::time_point{};
    for (;;) {
        DWORD mask = 0;
        bool sampling = false;
        {
            std::lock_guard lock(mutex_);
            if (closed_)
                return ERROR_OPERATION_ABORTED;
            if (gone_)
                return ERROR_DEVICE_NOT_CONNECTED;
            if (generation_ != generation)
                return ERROR_SUCCESS;
            mask = mask_;
            sampling =
                (mask & sampledEvents) != 0 && (waitLines_.HasModemLines || waitLines_.HasCounters);
        }
        if (sampling) {
            if (const DWORD error = SampleLineEvents(mask, events); error != ERROR_SUCCESS)
                return error;
            if (events != 0)
                return ERROR_SUCCESS;
        }
        // The pause asks for no input: only a wake (mask change, close) or a hang-up ends it
        // early, and the hang-up is then looked at by the wait after it, with what can be read.
        int timeout = !wait ? 0 : sampling ? samplePeriodMs : -1;
        if (linger) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                lingerEnd - std::chrono::steady_clock::now());
            linger = left.count() > 0;
            timeout = linger ? static_cast<int>(left.count()) : timeout;
        }
        const short input = !linger && (mask & EV_RXCHAR) ? POLLIN : 0;
        pollfd fds[2] = {{fd_, input, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return DeviceError(errno);
        if (fds[1].revents & POLLIN) {
            DrainWake();
            continue;
        }
        if (linger) {
            linger = false;
            continue;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Bytes that can still be read are delivered first.
            int queued = 0;
            if ((fds[0].revents & POLLIN) && ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0) {
                events = EV_RXCHAR;
                NoteData();
                return ERROR_SUCCESS;
            }
            std::lock_guard lock(mutex_);
            gone_ = true;
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        if (fds[0].revents & POLLIN) {
            events = EV_RXCHAR;
            NoteData();
            return ERROR_SUCCESS;
        }
        if (!wait)
            return ERROR_IO_INCOMPLETE;
    }
}

void CommDevice::NoteData() {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    dataGap_ = now - lastData_;
    lastData_ = now;
}

DWORD CommDevice::SampleLineEvents(DWORD mask, DWORD& events) {
    std::lock_guard lock(mutex_);
    LineSample now = waitLines_;
    if (const int error = SampleLine(fd_, now); error != 0) {
        gone_ = true;
        return DeviceError(error);
    }
    events = LineEventsBetween(waitLines_, now) & mask;
    waitLines_ = now;
    return ERROR_SUCCESS;
}

DWORD CommDevice::Read(void* buffer, DWORD size, DWORD& read) {
    read = 0;
    if (size == 0)
        return ERROR_SUCCESS;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n > 0) {
            read = static_cast<DWORD>(n);
            readSinceData_.fetch_add(read, std::memory_order_relaxed);
            return ERROR_SUCCESS;
        }
        // A terminal in raw mode with one byte as its minimum reads 0 only once it hung up.
        if (n == 0)
            return ERROR_DEVICE_NOT_CONNECTED;
        if (errno == EAGAIN)
            return ERROR_SUCCESS;
        if (errno != EINTR)
            return DeviceError(errno);
    }
}

int CommDevice::WriteTimeoutMs(DWORD size) {
    std::lock_guard lock(mutex_);
    const std::uint64_t total = std::uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * size +
                                timeouts_.WriteTotalTimeoutConstant;
    if (total == 0)
        return -1;
    return total > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(total);
}

DWORD CommDevice::Write(const void* buffer, DWORD size, DWORD& written, OVERLAPPED* overlapped) {
    written = 0;
    std::unique_lock control(writeMutex_);
    if (pendingWrite_) {
        DWORD done = 0, error = 0;
        // One write at a time; a finished one that nobody collected is dropped.
        if (!pendingWrite_->Result(false, done, error))
            return ERROR_NOT_READY;
        pendingWrite_.reset();
        writeBlock_ = nullptr;
        ++writes_;
    }
    const char* bytes = static_cast<const char*>(buffer);
    while (written < size) {
        const ssize_t n = ::write(fd_, bytes + written, size - written);
        if (n >= 0)
            written += static_cast<DWORD>(n);
        else if (errno == EAGAIN)
            break;
        else if (errno != EINTR) {
            ++writes_; // what went before may be queued
            return DeviceError(errno);
        }
    }
    ++writes_;
    if (overlapped) {
        overlapped->Internal = ERROR_SUCCESS;
        overlapped->InternalHigh = written;
    }
    if (written == size)
        return ERROR_SUCCESS;
    // The device's queue is full: the rest waits for room in the background.
    auto rest = std::make_shared<CommBackgroundWrite>(
        fd_, std::vector<char>(bytes + written, bytes + size), written, WriteTimeoutMs(size),
        overlapped ? overlapped->hEvent : nullptr);
    pendingWrite_ = rest;
    writeBlock_ = overlapped;
    if (overlapped)
        return ERROR_IO_PENDING;
    control.unlock();
    DWORD error = ERROR_SUCCESS;
    rest->Result(true, written, error);
    return error;
}

DWORD CommDevice::EndWrite(OVERLAPPED* overlapped,
                           const std::shared_ptr<CommBackgroundWrite>& write, bool wait) {
    DWORD written = 0, error = ERROR_SUCCESS;
    if (!write->Result(wait, written, error))
        return ERROR_IO_INCOMPLETE;
    {
        std::lock_guard lock(writeMutex_);
        if (pendingWrite_ == write) {
            pendingWrite_.reset();
            writeBlock_ = nullptr;
            ++writes_;
        }
    }
    overlapped->Internal = error;
    overlapped->InternalHigh = written;
    return error;
}

DWORD CommDevice::ClearError(DWORD& errors, COMSTAT* status) {
    errors = 0;
    {
        std::lock_guard lock(mutex_);
        LineSample now = errorLines_;
        if (const int error = SampleLine(fd_, now); error != 0)
            return DeviceError(error);
        errors = CommErrorsBetween(errorLines_, now);
        errorLines_ = now;
    }
    if (!status)
        return ERROR_SUCCESS;
    *status = COMSTAT{};
    int queued = 0;
    if (ioctl(fd_, FIONREAD, &queued) != 0)
        return DeviceError(errno);
    status->cbInQue = static_cast<DWORD>(queued);
    // Nothing left to read from a device that hung up: it is gone, as a removed device fails this
    // call. The comm thread hears of it in its wait; this tells the dispatch thread, which reads
    // the port while the comm thread is away writing a report file that stalls.
    if (queued == 0) {
        pollfd device{fd_, POLLIN, 0};
        if (poll(&device, 1, 0) == 1 && (device.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            std::lock_guard lock(mutex_);
            gone_ = true;
            return ERROR_DEVICE_NOT_CONNECTED;
        }
    }
    // A line that only reports never writes: once its output queue was seen empty, it is not
    // asked again, a system call less for every pass, until something is written.
    std::uint64_t writes = 0;
    {
        std::lock_guard lock(writeMutex_);
        writes = writes_;
        if (!pendingWrite_ && writes == emptyAfter_)
            return ERROR_SUCCESS;
    }
    queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 && !IoctlUnsupported(errno))
        return DeviceError(errno);
    status->cbOutQue = static_cast<DWORD>(queued);
    if (queued == 0) {
        // Only if no write began meanwhile: its bytes may have been queued after the ask.
        std::lock_guard lock(writeMutex_);
        if (!pendingWrite_ && writes_ == writes)
            emptyAfter_ = writes;
    }
    return ERROR_SUCCESS;
}

DWORD CommDevice::Purge(DWORD flags) {
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return ERROR_INVALID_PARAMETER;
    if (flags & PURGE_TXABORT) {
        std::lock_guard lock(writeMutex_);
        if (pendingWrite_)
            pendingWrite_->Cancel();
    }
    // Reads never wait, so there is no read to abort.
    if ((flags & PURGE_TXCLEAR) && tcflush(fd_, TCOFLUSH) != 0)
        return DeviceError(errno);
    if ((flags & PURGE_RXCLEAR) && tcflush(fd_, TCIFLUSH) != 0)
        return DeviceError(errno);
    return ERROR_SUCCESS;
}

DWORD CommDevice::Escape(DWORD function) {
    switch (function) {
    case SETDTR:
    case CLRDTR:
        return ChangeLines(fd_, TIOCM_DTR, function == SETDTR);
    case SETRTS:
    case CLRRTS:
        return ChangeLines(fd_, TIOCM_RTS, function == SETRTS);
    case SETBREAK:
        return Ioctl(fd_, TIOCSBRK);
    case CLRBREAK:
        return Ioctl(fd_, TIOCCBRK);
    case SETXOFF:
    case SETXON:
        if (tcflow(fd_, function == SETXOFF ? TCOOFF : TCOON) == 0 || IoctlUnsupported(errno))
            return ERROR_SUCCESS;
        return DeviceError(errno);
    case RESETDEV:
        return ERROR_SUCCESS;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

DWORD CommDevice::ModemStatus(DWORD& status) {
    status = 0;
    LineSample lines;
    {
        std::lock_guard lock(mutex_);
        lines.HasModemLines = waitLines_.HasModemLines;
    }
    if (const int error = SampleLine(fd_, lines); error != 0)
        return DeviceError(error);
    status = lines.ModemStatus;
    return ERROR_SUCCESS;
}
