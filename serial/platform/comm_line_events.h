#pragma once
// Modem lines and line error counters of a serial device, sampled and compared: changes become
// comm events (EV_) for a pending wait and error flags (CE_) for ClearCommError. A device that
// does not answer these requests (a pseudo-terminal) is a virtual port: its modem status is 0 and
// its line events never fire.

#include "serial/platform/win32_types.h"

struct LineSample {
    bool HasModemLines = false; // the device reports its modem lines
    bool HasCounters = false;   // the device counts line errors and line changes
    DWORD ModemStatus = 0;      // MS_ bits
    DWORD CtsChanges = 0, DsrChanges = 0, RingEdges = 0, DcdChanges = 0;
    DWORD Frame = 0, Overrun = 0, Parity = 0, Breaks = 0, BufferOverrun = 0;
};

// Comm events for what changed from before to after: a line whose state or change counter moved,
// a ring that came on, errors and breaks that were counted.
DWORD LineEventsBetween(const LineSample& before, const LineSample& after);

// Line error flags for the errors counted from before to after.
DWORD CommErrorsBetween(const LineSample& before, const LineSample& after);

// Whether an ioctl failed only because the device does not know the request (a pseudo-terminal
// has no modem lines or counters).
bool IoctlUnsupported(int error);

// Reads what sample says the device has. A request the device does not know clears that
// capability and is no failure; returns 0 or the errno of a failing read.
int SampleLine(int fd, LineSample& sample);
