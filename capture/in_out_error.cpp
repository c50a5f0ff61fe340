#include "capture/in_out_error.h"

#include "runtime/file_error.h"
#include "runtime/windows_error.h"

std::string InOutErrorText(int code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return "File not found";
    case ERROR_PATH_NOT_FOUND:
        return "Invalid filename";
    case ERROR_TOO_MANY_OPEN_FILES:
        return "Too many open files";
    case ERROR_ACCESS_DENIED:
        return "File access denied";
    case RTL_DISK_FULL:
        return "Disk full";
    default:
        return "I/O error " + std::to_string(code);
    }
}

EInOutError InOutErrorFromErrno(int errnoValue) {
    const int code = FileErrorFromErrno(errnoValue);
    return EInOutError(code, InOutErrorText(code));
}
