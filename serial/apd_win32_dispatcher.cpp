// The device slots of a COM port's dispatcher, on the platform's comm calls.
#include "serial/apd_win32_dispatcher.h"

#include "serial/platform/signal.h"
#include "serial/platform/system_error.h"

#include <new>

TApdWin32Dispatcher::TApdWin32Dispatcher(TApdCustomComPort* owner)
    : TApdBaseDispatcher(owner), commStall_([this] {
          // The comm thread's report file stalls: the dispatch thread reads the port meanwhile.
          if (commAway_) {
              rescue_ = true;
              WakeDispatch();
          }
      }) {}

TApdWin32Dispatcher::~TApdWin32Dispatcher() {
    CloseForDestroy();
    // The references are clear now; a dispatch thread that released the resources on its way
    // out may still be returning.
    JoinEndedThreads();
}

int TApdWin32Dispatcher::EscapeLine(DWORD function) {
    EscapeCommFunction(handle_, function);
    return 0;
}

int TApdWin32Dispatcher::PurgeQueue(QueueSide side) {
    const HANDLE handle = handle_;
    if (side == QueueSide::Receive)
        return PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR) ? 0
                                                                : -static_cast<int>(GetLastError());
    if (ThreadRunning(DispatcherThreadKind::Output)) {
        // The output thread acknowledges whether it was idle or in the middle of a write. A
        // thread that ends meanwhile acknowledges nothing, so the wait looks again now and then.
        Signals()->OutFlushSignal->Set();
        while (!Signals()->AckSignal->Wait(50))
            if (!ThreadRunning(DispatcherThreadKind::Output))
                break;
    }
    // Without an output thread the transmit side is flushed all the same: purging the receive
    // side instead would throw away bytes that arrived.
    output_.Lock()->Flush();
    return PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR) ? 0 : -static_cast<int>(GetLastError());
}

DWORD TApdWin32Dispatcher::PollComError(COMSTAT& status) {
    const DWORD errors = ClearDeviceErrors(&status);
    status.cbOutQue = OutputUsed();
    return errors;
}

DWORD TApdWin32Dispatcher::PollLineErrors() {
    return ClearDeviceErrors(nullptr);
}

DWORD TApdWin32Dispatcher::ClearDeviceErrors(COMSTAT* status) {
    DWORD errors = 0;
    if (ClearCommError(handle_, &errors, status))
        return errors;
    if (GetLastError() == ERROR_DEVICE_NOT_CONNECTED)
        NoteDeviceLost();
    // A failed poll reports nothing queued, so no read is made for stale counts.
    if (status)
        *status = COMSTAT{};
    return 0;
}

void TApdWin32Dispatcher::NoteReadError(int) {}

int TApdWin32Dispatcher::ReadComState(DCB& dcb) {
    return GetCommState(handle_, &dcb) ? 0 : -1;
}

int TApdWin32Dispatcher::ReadBlock(BYTE* destination, DWORD count) {
    std::lock_guard lock(ReceiveLock);
    const HANDLE handle = handle_;
    DWORD read = 0;
    if (ReadFile(handle, destination, count, &read, &ReadOverlapped))
        return static_cast<int>(read);
    if (GetLastError() != ERROR_IO_PENDING)
        return 0;
    if (!GetOverlappedResult(handle, &ReadOverlapped, &read, true))
        return 0;
    if (readSignal_)
        readSignal_->Reset();
    return static_cast<int>(read);
}

int TApdWin32Dispatcher::WriteComState(const DCB& dcb) {
    return SetCommState(handle_, &dcb) ? 0 : -static_cast<int>(GetLastError());
}

int TApdWin32Dispatcher::QueueOutput(const BYTE* bytes, DWORD count) {
    {
        auto output = output_.Lock();
        if (!output->Allocated() || output->Size() == 0)
            return 0;
        count = output->Put(bytes, count);
    }
    if (count > 0)
        NoteOutputQueued();
    if (ThreadSignals* waits = Signals())
        waits->OutputSignal->Set();
    return static_cast<int>(count);
}

bool TApdWin32Dispatcher::WaitLineEvent(DWORD& mask, OverlappedBlock* overlapped) {
    return WaitCommEvent(handle_, &mask, overlapped ? &overlapped->Overlapped : nullptr);
}

bool TApdWin32Dispatcher::SetQueueSizes(DWORD inSize, DWORD outSize) {
    if (SetupComm(handle_, inSize, outSize))
        return true;
    lastError_ = GetLastError();
    return false;
}

HANDLE TApdWin32Dispatcher::OpenDeviceHandle(const std::string& name, DWORD, DWORD) {
    const HANDLE handle =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        lastError_ = GetLastError();
        return -1;
    }
    DeviceHandle = handle;
    handle_ = handle;
    std::lock_guard lock(ReceiveLock);
    try {
        readSignal_ = std::make_unique<Signal>(true);
    } catch (const std::bad_alloc&) {
        CloseHandle(handle);
        DeviceHandle = handle_ = INVALID_HANDLE_VALUE;
        return ecOutOfMemory;
    }
    ReadOverlapped = OVERLAPPED{};
    ReadOverlapped.hEvent = readSignal_.get();
    return handle;
}

int TApdWin32Dispatcher::CloseDeviceHandle() {
    {
        std::lock_guard lock(ReceiveLock);
        ReadOverlapped.hEvent = nullptr;
        readSignal_.reset();
    }
    const HANDLE handle = handle_;
    if (ThreadsActive()) {
        RequestStop();
        SetCommMask(handle, 0); // completes the comm thread's pending wait
        Signals()->AckSignal->Reset();
    }
    if (!CloseHandle(handle))
        return -1;
    DeviceHandle = handle_ = INVALID_HANDLE_VALUE;
    return 0;
}

int TApdWin32Dispatcher::YieldSlice() {
    std::this_thread::yield();
    return 0;
}

DWORD TApdWin32Dispatcher::ReadModemStatus() {
    DWORD status = 0;
    return GetCommModemStatus(handle_, &status) ? status : 0;
}

DWORD TApdWin32Dispatcher::LastDeviceError() {
    return lastError_;
}
