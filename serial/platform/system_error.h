#pragma once
// Windows error numbers are the serial layer's currency. The C library's errno values are turned
// into them here, in one place, and kept per thread as the last error of the calling thread.

#include "serial/platform/win32_types.h"

// Numbers beyond the shared set that a device can produce on this platform.
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_IO_INCOMPLETE = 996;
constexpr DWORD ERROR_TIMEOUT = 1460;

// Where an errno value arose. Opening: while a device is being opened and proven to be a
// terminal; a missing, absent or non-terminal device there means "no such port". OpenDevice: on a
// device that was open and working; the same values there mean it went away.
enum class ErrnoSite { Opening, OpenDevice };

// The Windows error number for a C library errno value.
DWORD WindowsErrorFromErrno(int errnoValue, ErrnoSite site);

// The calling thread's last error, as the Win32 calls report it.
DWORD GetLastError();
void SetLastError(DWORD error);
