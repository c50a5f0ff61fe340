#pragma once
// The line settings of a DCB in termios terms: raw mode, rate, character format, flow control.
// What termios cannot hold (DSR flow, DTR handshake, the XON/XOFF limits) stays in the caller's
// stored copy of the DCB.

#include "serial/platform/win32_types.h"

struct termios;

// Writes dcb's settings into t, which holds the device's current settings. Returns
// ERROR_INVALID_PARAMETER when dcb holds a value no serial line takes (a rate outside 110 to
// 256000, byte size, parity or stop bits out of range or in a combination the UART cannot make,
// equal XON and XOFF characters with software flow on), else 0; t is untouched then. A rate with
// no termios constant is left to customBaud (0 when none is needed).
DWORD DcbToTermios(const DCB& dcb, termios& t, DWORD& customBaud);

// Turns off every kind of line processing (echo, line editing, signals, translations) in t and
// lets the device receive without a carrier, keeping the rate and character format: a port that
// is open must neither answer the line nor hold back what arrives.
void QuietTermios(termios& t);

// The DCB that t describes; customBaud is the rate when t holds a numeric one.
DCB DcbFromTermios(const termios& t, DWORD customBaud);

// True when t's output rate is numeric (set through SetCustomBaud).
bool HasCustomBaud(const termios& t);

// True when the device kept what it was given: the rate (unless it was set as a number), the
// flow handshake and, on a port with a wire, the character format. A virtual port (a
// pseudo-terminal) forces eight bits without parity, which means nothing where there is no wire.
bool SettingsTaken(const termios& wanted, const termios& readBack, bool customBaud,
                   bool virtualPort);
