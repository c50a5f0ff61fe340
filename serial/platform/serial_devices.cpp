#include "serial/platform/serial_devices.h"

#include "serial/platform/port_inspection.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace {

// The names in a folder that start with prefix (a number following it), in order: ttyUSB2 comes
// before ttyUSB10.
std::vector<std::string> NamesIn(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.front() != '.' && name.size() > prefix.size() &&
            name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return !prefix.empty() && a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

// The 8250 driver makes ttyS0 to ttyS31 whether or not a UART answers; the ones without report
// the port type 0.
bool HasUart(const std::string& name) {
    const std::string node = "/sys/class/tty/" + name;
    struct stat info {};
    if (::stat((node + "/device").c_str(), &info) != 0)
        return false;
    std::ifstream typeFile(node + "/type");
    int type = -1;
    return !(typeFile >> type) || type != 0;
}

} // namespace

std::vector<SerialDeviceChoice> FindSerialDevices() {
    std::vector<SerialDeviceChoice> devices;
    const std::string byId = "/dev/serial/by-id/";
    for (const std::string& name : NamesIn(byId, "")) {
        const PortInspection link = InspectDevice(byId + name);
        if (link.Exists)
            devices.push_back({link.Device.Path, link.RealPath});
    }
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (const std::string& name : NamesIn("/dev", prefix))
            devices.push_back({"/dev/" + name, {}});
    }
    for (const std::string& name : NamesIn("/dev", "ttyS")) {
        if (HasUart(name))
            devices.push_back({"/dev/" + name, {}});
    }
    return devices;
}
