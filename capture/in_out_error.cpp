#include "capture/in_out_error.h"

#include <cerrno>

int WindowsErrorFromErrno(int errnoValue) {
    switch (errnoValue) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return 5; // ERROR_ACCESS_DENIED
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return 3; // ERROR_PATH_NOT_FOUND: the file is created, so what is missing is its folder
    case EMFILE:
    case ENFILE:
        return 4; // ERROR_TOO_MANY_OPEN_FILES
    case ENOSPC:
    case EDQUOT:
        return 101; // the run-time library's "Disk full"
    case EFBIG:
        return 223; // ERROR_FILE_TOO_LARGE
    case EBUSY:
    case ETXTBSY:
        return 32; // ERROR_SHARING_VIOLATION
    case EAGAIN:
        return 33; // ERROR_LOCK_VIOLATION
    case ENXIO:
    case ENODEV:
        return 21; // ERROR_NOT_READY
    case ENOMEM:
        return 8; // ERROR_NOT_ENOUGH_MEMORY
    case EINVAL:
        return 87; // ERROR_INVALID_PARAMETER
    case EIO:
        return 1117; // ERROR_IO_DEVICE
    default:
        return 31; // ERROR_GEN_FAILURE
    }
}

std::string InOutErrorText(int code) {
    switch (code) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 101:
        return "Disk full";
    default:
        return "I/O error " + std::to_string(code);
    }
}

EInOutError InOutErrorFromErrno(int errnoValue) {
    const int code = WindowsErrorFromErrno(errnoValue);
    return EInOutError(code, InOutErrorText(code));
}
