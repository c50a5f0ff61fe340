#pragma once
// The Win32 communications types and numbers that the serial layer is written against. The calls
// that use them are implemented on termios in this folder; Windows error numbers
// (runtime/windows_error.h) stay the layer's currency.

#include "runtime/windows_error.h"

#include <cstdint>

using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using HANDLE = std::intptr_t; // a device handle of this folder's comm calls; -1 when none
constexpr HANDLE INVALID_HANDLE_VALUE = -1;

// DCB codes.
constexpr BYTE NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
constexpr BYTE DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
constexpr BYTE RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
               RTS_CONTROL_TOGGLE = 3;

// The device control block: the line settings of a port.
struct DCB {
    DWORD BaudRate = 0;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    BYTE fDtrControl = DTR_CONTROL_DISABLE;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = true;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    BYTE fRtsControl = RTS_CONTROL_DISABLE;
    bool fAbortOnError = false;
    WORD XonLim = 0;
    WORD XoffLim = 0;
    BYTE ByteSize = 8;
    BYTE Parity = NOPARITY;
    BYTE StopBits = ONESTOPBIT;
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

struct COMSTAT {
    bool fCtsHold = false;
    bool fDsrHold = false;
    bool fRlsdHold = false;
    bool fXoffHold = false;
    bool fXoffSent = false;
    bool fEof = false;
    bool fTxim = false;
    DWORD cbInQue = 0;
    DWORD cbOutQue = 0;
};

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout = 0;
    DWORD ReadTotalTimeoutMultiplier = 0;
    DWORD ReadTotalTimeoutConstant = 0;
    DWORD WriteTotalTimeoutMultiplier = 0;
    DWORD WriteTotalTimeoutConstant = 0;
};
constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

// Comm event mask bits.
constexpr DWORD EV_RXCHAR = 0x0001, EV_RXFLAG = 0x0002, EV_TXEMPTY = 0x0004, EV_CTS = 0x0008,
                EV_DSR = 0x0010, EV_RLSD = 0x0020, EV_BREAK = 0x0040, EV_ERR = 0x0080,
                EV_RING = 0x0100, EV_RING_TE = 0x2000;

// Line error flags.
constexpr DWORD CE_RXOVER = 0x01, CE_OVERRUN = 0x02, CE_RXPARITY = 0x04, CE_FRAME = 0x08,
                CE_BREAK = 0x10;

// Modem status bits.
constexpr DWORD MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80;

// EscapeCommFunction codes.
constexpr DWORD SETXOFF = 1, SETXON = 2, SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6,
                RESETDEV = 7, SETBREAK = 8, CLRBREAK = 9;

// PurgeComm flags.
constexpr DWORD PURGE_TXABORT = 0x1, PURGE_RXABORT = 0x2, PURGE_TXCLEAR = 0x4, PURGE_RXCLEAR = 0x8;
