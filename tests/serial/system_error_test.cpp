#include "serial/platform/system_error.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

TEST(SystemError, ErrnoValuesBecomeWindowsErrorsByWhereTheyArose) {
    struct Case {
        int Errno;
        DWORD Opening;
        DWORD OpenDevice;
    };
    const Case cases[] = {
        {0, ERROR_SUCCESS, ERROR_SUCCESS},
        // No such port.
        {ENOENT, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {ENOTDIR, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {ENODEV, ERROR_FILE_NOT_FOUND, ERROR_DEVICE_NOT_CONNECTED},
        {ENXIO, ERROR_FILE_NOT_FOUND, ERROR_DEVICE_NOT_CONNECTED},
        {EIO, ERROR_FILE_NOT_FOUND, ERROR_DEVICE_NOT_CONNECTED},
        {ENOTTY, ERROR_FILE_NOT_FOUND, ERROR_INVALID_FUNCTION},
        // Held by another.
        {EWOULDBLOCK, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {EBUSY, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        // Refused by permissions.
        {EACCES, ERROR_PRIVILEGE_NOT_HELD, ERROR_ACCESS_DENIED},
        {EPERM, ERROR_PRIVILEGE_NOT_HELD, ERROR_ACCESS_DENIED},
        // The rest.
        {EINVAL, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
        {EMFILE, ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
        {EBADF, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
        {EINTR, ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED},
        {ETIMEDOUT, ERROR_TIMEOUT, ERROR_TIMEOUT},
        {EDOM, ERROR_GEN_FAILURE, ERROR_GEN_FAILURE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowsErrorFromErrno(c.Errno, ErrnoSite::Opening), c.Opening) << c.Errno;
        EXPECT_EQ(WindowsErrorFromErrno(c.Errno, ErrnoSite::OpenDevice), c.OpenDevice) << c.Errno;
    }
}

TEST(SystemError, TheLastErrorBelongsToTheThreadThatSetIt) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOther = 1234;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(ERROR_FILE_NOT_FOUND);
    });
    other.join();
    EXPECT_EQ(seenByOther, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}
