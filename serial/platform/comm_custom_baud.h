#pragma once
// Line rates that have no termios speed constant (14400, 56000, 128000 and the like), set and read
// through the kernel's second termios interface, which takes the rate as a number.

#include "serial/platform/win32_types.h"

// Set the device's rate to baud in both directions; 0 or an errno value.
int SetCustomBaud(int fd, DWORD baud);
// The device's output rate; 0 or an errno value.
int GetCustomBaud(int fd, DWORD& baud);
