#pragma once
// Which character devices are terminals, by the kernel's own list of tty drivers.

#include <string>
#include <sys/types.h>

// The line of /proc/tty/drivers that serves a device: the driver's name and its type
// ("serial", "pty:slave", "system" ...); both empty when no tty driver serves it.
struct TtyDriverEntry {
    std::string Name;
    std::string Type;
};
TtyDriverEntry FindTtyDriver(dev_t device);

// True when device (a st_rdev) belongs to a tty driver listed in /proc/tty/drivers. Pseudo-
// terminal masters and /dev/ptmx are left out: opening one makes a new terminal instead of
// reaching a line. Asked before a port's path is opened, so that no other device (a watchdog
// that an open arms, a disk) is ever opened as a port.
bool IsTtyDevice(dev_t device);
