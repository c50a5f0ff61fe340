#pragma once
// The text of --list-ports: one line for each COM port inspected.

#include "serial/platform/port_inspection.h"

#include <string>
#include <vector>

// "COM3: /dev/serial/by-id/... [PortDevices]; present; real path /dev/ttyUSB0; driver usbserial;
// free", each line ended by LF.
std::string PortListText(const std::vector<PortInspection>& ports);
