#pragma once
// One open serial device behind a comm handle: its descriptor and lock, the line settings last
// written, the event mask with the pending event wait, and the pending background write. Every
// operation returns 0 or a Windows error number.

#include "runtime/posix_io.h"
#include "serial/platform/comm_line_events.h"
#include "serial/platform/win32_types.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CommBackgroundWrite;
struct OVERLAPPED;
struct termios;

class CommDevice {
public:
    // Opens, proves to be a terminal and locks the device at path, and quiets its line processing.
    // A path that is no terminal of a tty driver is never opened: ERROR_FILE_NOT_FOUND. Permission
    // denied is ERROR_PRIVILEGE_NOT_HELD, held by another ERROR_ACCESS_DENIED.
    static std::shared_ptr<CommDevice> Open(const std::string& path, DWORD& error);
    CommDevice(const CommDevice&) = delete;
    CommDevice& operator=(const CommDevice&) = delete;
    ~CommDevice();

    // Aborts the pending write, fails the pending wait and gives up the lock at once; the
    // descriptor closes when the last call still using the device returns. The device gets back
    // the settings it had before the open, whether or not they were changed, so a terminal that
    // another program uses is left as that program set it.
    void Close();

    DWORD SetupQueues(DWORD inQueue, DWORD outQueue);
    DWORD GetState(DCB& dcb);
    DWORD SetState(const DCB& dcb);
    DWORD GetTimeouts(COMMTIMEOUTS& timeouts);
    DWORD SetTimeouts(const COMMTIMEOUTS& timeouts);
    DWORD GetMask(DWORD& mask);
    DWORD SetMask(DWORD mask);

    // Starts a wait for the events of the mask: ERROR_IO_PENDING with a block, whose completion
    // CompleteOverlapped performs; without one, waits here.
    DWORD StartWait(DWORD* events, OVERLAPPED* overlapped);
    // Completes the operation of the block: the pending wait, the background write, or one that
    // already completed. ERROR_IO_INCOMPLETE while it has not ended and wait is false.
    DWORD CompleteOverlapped(OVERLAPPED* overlapped, DWORD& transferred, bool wait);

    DWORD Read(void* buffer, DWORD size, DWORD& read);
    DWORD Write(const void* buffer, DWORD size, DWORD& written, OVERLAPPED* overlapped);

    DWORD ClearError(DWORD& errors, COMSTAT* status);
    DWORD Purge(DWORD flags);
    DWORD Escape(DWORD function);
    DWORD ModemStatus(DWORD& status);

private:
    CommDevice(FileDescriptor device, FileDescriptor wake, const LineSample& lines,
               const termios& original);

    DWORD AwaitEvents(std::uint64_t generation, bool wait, DWORD& events);
    DWORD SampleLineEvents(DWORD mask, DWORD& events);
    void NoteData(); // a wait ends with bytes to read
    DWORD EndWait(OVERLAPPED* overlapped, DWORD* events, std::uint64_t generation, bool wait);
    DWORD EndWrite(OVERLAPPED* overlapped, const std::shared_ptr<CommBackgroundWrite>& write,
                   bool wait);
    DWORD ApplyState(const DCB& dcb);
    void ApplyModemLines(const DCB& dcb);
    void Wake();
    void DrainWake();
    int WriteTimeoutMs(DWORD size);

    const FileDescriptor device_;
    const FileDescriptor wake_; // written to wake the pending wait (mask change, close)
    const int fd_;              // device_ and wake_, as every call takes them
    const int wakeFd_;
    const std::unique_ptr<termios> original_;

    std::mutex mutex_; // guards what follows
    bool closed_ = false;
    bool gone_ = false; // the device hung up; it never comes back on this descriptor
    bool stateWritten_ = false;
    DCB state_;
    COMMTIMEOUTS timeouts_;
    DWORD mask_ = 0;
    std::uint64_t generation_ = 0; // bumped by every mask change
    LineSample waitLines_;         // the lines as the event wait last saw them
    LineSample errorLines_;        // the counters as ClearCommError last saw them
    OVERLAPPED* waitBlock_ = nullptr;
    DWORD* waitEvents_ = nullptr;
    std::uint64_t waitGeneration_ = 0;
    // How the line sent lately: a busy line's next wait pauses first (see AwaitEvents).
    std::chrono::steady_clock::time_point lastData_;
    std::chrono::steady_clock::duration dataGap_ = std::chrono::steady_clock::duration::max();
    std::atomic<std::uint32_t> readSinceData_ = 0; // bytes read since a wait last ended with data

    std::mutex writeMutex_; // guards the pending write and serialises starting and aborting it
    std::shared_ptr<CommBackgroundWrite> pendingWrite_;
    OVERLAPPED* writeBlock_ = nullptr;
    std::uint64_t writes_ = 0; // bumped once a write's bytes are all queued or it ended
    // writes_ when the output queue was last seen empty with no write pending
    std::uint64_t emptyAfter_ = UINT64_MAX;
};
