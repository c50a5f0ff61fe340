#pragma once
// Windows error numbers are the serial layer's currency. The errno values of serial devices are
// turned into them here, in one place, and kept per thread as the last error of the calling
// thread. Files (traces, logs) are mapped by FileErrorFromErrno instead.

#include "serial/platform/win32_types.h"

// Where an errno value arose. Opening: while a device is being opened and proven to be a
// terminal; a missing, absent or non-terminal device there means "no such port". OpenDevice: on a
// device that was open and working; the same values there mean it went away.
enum class ErrnoSite { Opening, OpenDevice };

// The Windows error number for a C library errno value.
DWORD WindowsErrorFromErrno(int errnoValue, ErrnoSite site);

// The calling thread's last error, as the Win32 calls report it.
DWORD GetLastError();
void SetLastError(DWORD error);
