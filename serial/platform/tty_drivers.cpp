#include "serial/platform/tty_drivers.h"

#include <fstream>
#include <sstream>
#include <string>
#include <sys/sysmacros.h>
#include <vector>

namespace {

// One line of the list: name, node, major, minor or minor range, type. A name may hold blanks,
// so the fields are taken from the end.
bool Serves(const std::string& line, unsigned major, unsigned minor) {
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;)
        words.push_back(word);
    if (words.size() < 5)
        return false;
    const std::string& type = words[words.size() - 1];
    const std::string& range = words[words.size() - 2];
    const std::string& driverMajor = words[words.size() - 3];
    if (type == "pty:master" || type == "system")
        return false;
    try {
        if (std::stoul(driverMajor) != major)
            return false;
        const auto dash = range.find('-');
        const unsigned long first = std::stoul(range.substr(0, dash));
        const unsigned long last =
            dash == std::string::npos ? first : std::stoul(range.substr(dash + 1));
        return minor >= first && minor <= last;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

bool IsTtyDevice(dev_t device) {
    std::ifstream drivers("/proc/tty/drivers");
    const unsigned major = ::major(device);
    const unsigned minor = ::minor(device);
    for (std::string line; std::getline(drivers, line);) {
        if (Serves(line, major, minor))
            return true;
    }
    return false;
}
