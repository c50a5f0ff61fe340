#pragma once
// The serial devices of this machine that a COM port could be given, found without opening any.

#include <string>
#include <vector>

struct SerialDeviceChoice {
    std::string Path;   // what the port is given
    std::string Target; // for a /dev/serial/by-id name, the device it points to; otherwise empty
};

// /dev/serial/by-id/* (names that stay with the adapter) first, then /dev/ttyUSB*, /dev/ttyACM*
// and the /dev/ttyS* that have a UART behind them, each kind in order of name and number.
std::vector<SerialDeviceChoice> FindSerialDevices();
