#pragma once
// What can be known of the device behind a COM port number without opening it: where the port
// map named it, whether it is there, what it resolves to, its tty driver and who holds it open.
// Only stat(), realpath() and files under /proc are used, so a device that nobody holds sees no
// open and close (which would raise and drop DTR and RTS on a real UART).

#include "serial/platform/port_map.h"

#include <optional>
#include <string>
#include <vector>

struct PortHolder {
    int Pid = 0;
    std::string Command; // the process's name as the kernel keeps it
};

struct PortInspection {
    int Number = 0;       // n of COMn
    PortDevice Device;    // the path the port map names and where it came from
    bool Exists = false;  // the path, links followed, names something
    std::string Problem;  // why the path could not be looked at, other than being missing
    std::string RealPath; // links resolved (by-id names give the kernel's name)
    bool CharacterDevice = false;
    std::string Driver;              // the tty driver; empty when the device is no tty
    bool ReadWrite = false;          // this user may open it for reading and writing
    std::vector<PortHolder> Holders; // processes with the device open, this one included
    bool HoldersComplete = true;     // false when some processes could not be looked into
};

// One port, without its holders.
PortInspection InspectPort(int n);
// A device given by its path, as a port would name it, without its holders; Number stays 0.
PortInspection InspectDevice(const std::string& path);
// Fills in the holders of every inspected tty from one pass over /proc/*/fd.
void FindPortHolders(std::vector<PortInspection>& ports);
// The process that holds the device's lock (flock), as a port or tio takes it; none when the
// device is not locked or /proc/locks does not say.
std::optional<PortHolder> LockHolder(const std::string& path);
// COM1 to COM16 with their holders.
std::vector<PortInspection> InspectPorts();
