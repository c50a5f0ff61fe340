#pragma once
// The rest of an overlapped write that could not be written at once, written by a thread of its
// own until it is done, its time runs out, it is aborted or the device fails. Its end sets the
// caller's completion signal.

#include "runtime/posix_io.h"
#include "serial/platform/win32_types.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class Signal;

class CommBackgroundWrite {
public:
    // bytes: what is still to be written; written: what the caller already wrote; timeoutMs: the
    // time the whole write may take from now (negative: no limit).
    CommBackgroundWrite(int fd, std::vector<char> bytes, DWORD written, int timeoutMs,
                        Signal* done);
    CommBackgroundWrite(const CommBackgroundWrite&) = delete;
    CommBackgroundWrite& operator=(const CommBackgroundWrite&) = delete;
    ~CommBackgroundWrite();

    // Aborts the write unless it has ended, and waits for its thread.
    void Cancel();
    // True once the write has ended (waiting for that when wait is set), with the bytes written in
    // all and 0 or the Windows error it ended with. A write whose time ran out ends without error.
    bool Result(bool wait, DWORD& written, DWORD& error);
    // False when the background thread could not be started; the write then failed at once.
    bool Started() const { return started_; }

private:
    void Run(int timeoutMs);
    void Finish(DWORD error);
    DWORD WriteSome(std::size_t& offset);

    const int fd_;
    FileDescriptor wake_;
    const std::vector<char> bytes_;
    Signal* const done_;
    bool started_ = false;

    std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = false;
    DWORD written_;
    DWORD error_ = ERROR_SUCCESS;

    std::mutex joinMutex_;
    std::thread worker_;
};
