#include "app/port_list.h"

#include <unistd.h>

namespace {

const char* SourceName(PortDeviceSource source) {
    switch (source) {
    case PortDeviceSource::Override:
        return "set in this process";
    case PortDeviceSource::Settings:
        return "PortDevices";
    case PortDeviceSource::Default:
        break;
    }
    return "default";
}

std::string HolderText(const PortInspection& port) {
    if (port.Holders.empty())
        return port.HoldersComplete ? "free" : "no holder among the processes this user may see";
    std::string text = "held by ";
    for (std::size_t i = 0; i < port.Holders.size(); ++i) {
        const PortHolder& holder = port.Holders[i];
        if (i > 0)
            text += " and ";
        text += holder.Pid == ::getpid()
                    ? std::string("this program")
                    : holder.Command + " (pid " + std::to_string(holder.Pid) + ")";
    }
    return text;
}

std::string PortLine(const PortInspection& port) {
    std::string line = "COM" + std::to_string(port.Number) + ": " + port.Device.Path + " [" +
                       SourceName(port.Device.Source) + "]; ";
    if (!port.Exists)
        return line + (port.Problem.empty() ? "missing" : "cannot be looked at: " + port.Problem);
    line += "present; real path " + port.RealPath + "; ";
    if (!port.CharacterDevice)
        return line + "not a character device";
    if (port.Driver.empty())
        return line + "not a tty";
    line += "driver " + port.Driver + "; ";
    if (!port.ReadWrite)
        line += "no read-write access for this user; ";
    return line + HolderText(port);
}

} // namespace

std::string PortListText(const std::vector<PortInspection>& ports) {
    std::string text;
    for (const PortInspection& port : ports)
        text += PortLine(port) + "\n";
    return text;
}
