#include "serial/platform/comm_api.h"

#include "serial/platform/comm_device.h"
#include "serial/platform/port_map.h"

#include <map>
#include <memory>
#include <mutex>

namespace {

// The open devices by handle. Handles count up from 1 and are never reused, so a stale handle
// fails with ERROR_INVALID_HANDLE instead of reaching another port.
class CommHandleTable {
public:
    HANDLE Add(std::shared_ptr<CommDevice> device) {
        std::lock_guard lock(mutex_);
        const HANDLE handle = next_++;
        devices_.emplace(handle, std::move(device));
        return handle;
    }
    std::shared_ptr<CommDevice> Find(HANDLE handle) {
        std::lock_guard lock(mutex_);
        const auto found = devices_.find(handle);
        return found == devices_.end() ? nullptr : found->second;
    }
    std::shared_ptr<CommDevice> Remove(HANDLE handle) {
        std::lock_guard lock(mutex_);
        const auto found = devices_.find(handle);
        if (found == devices_.end())
            return nullptr;
        auto device = std::move(found->second);
        devices_.erase(found);
        return device;
    }

private:
    std::mutex mutex_;
    std::map<HANDLE, std::shared_ptr<CommDevice>> devices_;
    HANDLE next_ = 1;
};

CommHandleTable& Handles() {
    static CommHandleTable table;
    return table;
}

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

// Runs operation on the handle's device: true on success, else false with the last error set.
template <typename Operation> bool OnDevice(HANDLE handle, Operation operation) {
    const auto device = Handles().Find(handle);
    if (!device)
        return Fail(ERROR_INVALID_HANDLE);
    const DWORD error = operation(*device);
    return error == ERROR_SUCCESS ? true : Fail(error);
}

} // namespace

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD, void*,
                   DWORD creationDisposition, DWORD, HANDLE) {
    if (!fileName || creationDisposition != OPEN_EXISTING ||
        (desiredAccess & (GENERIC_READ | GENERIC_WRITE)) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const int port = ParseComDeviceName(fileName);
    if (port == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    auto device = CommDevice::Open(PortDevicePath(port), error);
    if (!device) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return Handles().Add(std::move(device));
}

bool CloseHandle(HANDLE handle) {
    const auto device = Handles().Remove(handle);
    if (!device)
        return Fail(ERROR_INVALID_HANDLE);
    device->Close();
    return true;
}

bool SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    return OnDevice(handle, [&](CommDevice& d) { return d.SetupQueues(inQueue, outQueue); });
}

bool GetCommState(HANDLE handle, DCB* dcb) {
    if (!dcb)
        return Fail(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& d) { return d.GetState(*dcb); });
}

bool SetCommState(HANDLE handle, const DCB* dcb) {
    if (!dcb)
        return Fail(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& d) { return d.SetState(*dcb); });
}

bool GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    if (!timeouts)
        return Fail(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& d) { return d.GetTimeouts(*timeouts); });
}

bool SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS* timeouts) {
    if (!timeouts)
        return Fail(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& d) { return d.SetTimeouts(*timeouts); });
}

bool SetCommMask(HANDLE handle, DWORD eventMask) {
    return OnDevice(handle, [&](CommDevice& d) { return d.SetMask(eventMask); });
}

bool GetCommMask(HANDLE handle, DWORD* eventMask) {
    if (!eventMask)
        return Fail(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& d) { return d.GetMask(*eventMask); });
}

bool WaitCommEvent(HANDLE handle, DWORD* eventMask, OVERLAPPED* overlapped) {
    return OnDevice(handle, [&](CommDevice& d) { return d.StartWait(eventMask, overlapped); });
}

bool GetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred, bool wait) {
    if (!overlapped)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD count = 0;
    const bool done = OnDevice(
        handle, [&](CommDevice& d) { return d.CompleteOverlapped(overlapped, count, wait); });
    if (transferred)
        *transferred = count;
    return done;
}

bool ReadFile(HANDLE handle, void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) {
    if (!buffer && toRead > 0)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD count = 0;
    DWORD error = ERROR_INVALID_HANDLE;
    const bool done = OnDevice(handle, [&](CommDevice& d) {
        error = d.Read(buffer, toRead, count);
        return error;
    });
    if (read)
        *read = count;
    if (overlapped) {
        overlapped->Internal = error;
        overlapped->InternalHigh = count;
    }
    return done;
}

bool WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written,
               OVERLAPPED* overlapped) {
    if (!buffer && toWrite > 0)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD count = 0;
    const bool done = OnDevice(
        handle, [&](CommDevice& d) { return d.Write(buffer, toWrite, count, overlapped); });
    if (written)
        *written = count;
    return done;
}

bool ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) {
    DWORD flags = 0;
    const bool done = OnDevice(handle, [&](CommDevice& d) { return d.ClearError(flags, status); });
    if (errors)
        *errors = flags;
    return done;
}

bool PurgeComm(HANDLE handle, DWORD flags) {
    return OnDevice(handle, [&](CommDevice& d) { return d.Purge(flags); });
}

bool EscapeCommFunction(HANDLE handle, DWORD function) {
    return OnDevice(handle, [&](CommDevice& d) { return d.Escape(function); });
}

bool GetCommModemStatus(HANDLE handle, DWORD* modemStatus) {
    if (!modemStatus)
        return Fail(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& d) { return d.ModemStatus(*modemStatus); });
}
