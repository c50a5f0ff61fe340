#include "serial/platform/tty_drivers.h"

#include <fstream>
#include <sstream>
#include <string>
#include <sys/sysmacros.h>
#include <vector>

namespace {

// One line of the list: name, node, major, minor or minor range, type. A name may hold blanks,
// so the fields are taken from the end.
bool Serves(const std::string& line, unsigned major, unsigned minor, TtyDriverEntry& entry) {
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;)
        words.push_back(word);
    if (words.size() < 5)
        return false;
    const std::string& range = words[words.size() - 2];
    const std::string& driverMajor = words[words.size() - 3];
    try {
        if (std::stoul(driverMajor) != major)
            return false;
        const auto dash = range.find('-');
        const unsigned long first = std::stoul(range.substr(0, dash));
        const unsigned long last =
            dash == std::string::npos ? first : std::stoul(range.substr(dash + 1));
        if (minor < first || minor > last)
            return false;
    } catch (const std::exception&) {
        return false;
    }
    entry.Name = words[0];
    for (std::size_t i = 1; i + 4 < words.size(); ++i)
        entry.Name += " " + words[i];
    entry.Type = words.back();
    return true;
}

} // namespace

TtyDriverEntry FindTtyDriver(dev_t device) {
    std::ifstream drivers("/proc/tty/drivers");
    TtyDriverEntry entry;
    for (std::string line; std::getline(drivers, line);) {
        if (Serves(line, ::major(device), ::minor(device), entry))
            return entry;
    }
    return {};
}

bool IsTtyDevice(dev_t device) {
    const TtyDriverEntry entry = FindTtyDriver(device);
    return !entry.Type.empty() && entry.Type != "pty:master" && entry.Type != "system";
}
