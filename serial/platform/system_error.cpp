#include "serial/platform/system_error.h"

#include <cerrno>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
} // namespace

DWORD WindowsErrorFromErrno(int errnoValue, ErrnoSite site) {
    const bool opening = site == ErrnoSite::Opening;
    switch (errnoValue) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case ENAMETOOLONG:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    // Opening a serial device node whose hardware is absent fails with EIO, ENXIO or ENODEV;
    // after the open these values mean the device was unplugged or its other end closed. 1167
    // ("the device is not connected") says exactly that, where 31 would only say it failed.
    case ENODEV:
    case ENXIO:
    case EIO:
    case EPIPE:
        return opening ? ERROR_FILE_NOT_FOUND : ERROR_DEVICE_NOT_CONNECTED;
    // A node that is no terminal is no port; an open terminal that does not know a request is
    // asked for a function it lacks.
    case ENOTTY:
        return opening ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_FUNCTION;
    // Refused by permissions (the user is not in the dialout group): a port that exists but is not
    // ours to open, which is not the same as one that someone else holds.
    case EACCES:
    case EPERM:
        return opening ? ERROR_PRIVILEGE_NOT_HELD : ERROR_ACCESS_DENIED;
    // Held by someone else (a lock, exclusive mode).
    case EWOULDBLOCK:
    case EBUSY:
    case EROFS:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
    case ENOBUFS:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
    case ERANGE:
    case EOVERFLOW:
    case EFAULT:
        return ERROR_INVALID_PARAMETER;
    case EOPNOTSUPP:
    case ENOSYS:
        return ERROR_INVALID_FUNCTION;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case EINTR:
    case ECANCELED:
        return ERROR_OPERATION_ABORTED;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    default:
        return ERROR_GEN_FAILURE;
    }
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD error) {
    lastError = error;
}
