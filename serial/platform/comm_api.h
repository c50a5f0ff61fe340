#pragma once
// The Win32 serial communications calls, with their Windows names and meanings, on Linux terminal
// devices. A handle names one open device; failures return false (or INVALID_HANDLE_VALUE) and
// leave a Windows error number for GetLastError.
//
// Overlapped operations: ReadFile completes at once (reads never wait: the interval time-out of
// MAXDWORD is the only one this layer honours for reads). WaitCommEvent with a block returns false
// with ERROR_IO_PENDING; the wait itself happens in GetOverlappedResult, which completes it with
// the events seen, with an empty mask when SetCommMask is called meanwhile, or fails when the
// device went away or its handle was closed. A write that cannot finish at once goes on in the
// background until it finishes, PurgeComm(PURGE_TXABORT) aborts it or the handle is closed; its
// block's event is set when it ends. One write at a time: another while one is still going on
// fails with ERROR_NOT_READY.

#include "serial/platform/system_error.h"
#include "serial/platform/win32_types.h"

class Signal;

struct OVERLAPPED {
    Signal* hEvent = nullptr; // set when the operation completes; may be null
    DWORD Internal = 0;       // the Windows error of the completed operation
    DWORD InternalHigh = 0;   // the bytes it transferred
};

// CreateFileA arguments that a comm port accepts.
constexpr DWORD GENERIC_READ = 0x80000000u, GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80, FILE_FLAG_OVERLAPPED = 0x40000000u;

// Opens the device named "\\.\COMn" (resolved through the port map) for exclusive use: a second
// open of the same device fails with ERROR_ACCESS_DENIED, in this process or another. A name that
// is no port, or a port with no device: ERROR_FILE_NOT_FOUND. Share mode, security and template
// are ignored: a comm port is never shared.
HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile);
// Completes pending operations of the handle with a failure and releases the device.
bool CloseHandle(HANDLE handle);

bool SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue);
// The DCB last written by SetCommState; before the first write, the device's settings.
bool GetCommState(HANDLE handle, DCB* dcb);
// Writes the line settings in raw mode; a value the device refuses: ERROR_INVALID_PARAMETER.
bool SetCommState(HANDLE handle, const DCB* dcb);
bool GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts);
bool SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS* timeouts);
// Also completes a pending wait with an empty event mask.
bool SetCommMask(HANDLE handle, DWORD eventMask);
bool GetCommMask(HANDLE handle, DWORD* eventMask);
// Without a block, waits until an event of the mask arrives. A mask of 0 or one with the ring
// trailing-edge event: ERROR_INVALID_PARAMETER.
bool WaitCommEvent(HANDLE handle, DWORD* eventMask, OVERLAPPED* overlapped);
bool GetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred, bool wait);

bool ReadFile(HANDLE handle, void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped);
bool WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written,
               OVERLAPPED* overlapped);

bool ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status);
bool PurgeComm(HANDLE handle, DWORD flags);
bool EscapeCommFunction(HANDLE handle, DWORD function);
// MS_ bits of the modem lines; 0 on a device that has none.
bool GetCommModemStatus(HANDLE handle, DWORD* modemStatus);
