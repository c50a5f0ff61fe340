#pragma once
// Which Linux device a port number names. In order: an override set in this process (the
// simulator and the tests use it); the key COMn of the section PortDevices of the settings file,
// which the operator writes and this layer only reads; otherwise /dev/ttyS<n-1>.

#include <string>

// Names the device of port n for this process until cleared.
void SetPortDevice(int n, const std::string& path);
void ClearPortDevice(int n);

// The settings file whose PortDevices section is consulted; empty: none. The program names it at
// start-up, since this layer knows nothing of where the program keeps its settings.
void SetPortMapSettingsFile(const std::string& path);

// Where the device of a port was named.
enum class PortDeviceSource { Override, Settings, Default };

struct PortDevice {
    std::string Path;
    PortDeviceSource Source = PortDeviceSource::Default;
};

// The device of port n (n >= 1) and where it was named.
PortDevice ResolvePortDevice(int n);
// The device path of port n (n >= 1).
std::string PortDevicePath(int n);
// The device of port n when nothing else names one: /dev/ttyS<n-1>.
std::string DefaultPortDevicePath(int n);

// The port number of a device name of the form "\\.\COMn" (or plain "COMn"), letters in any case;
// 0 when the name is not such a name.
int ParseComDeviceName(const std::string& name);
