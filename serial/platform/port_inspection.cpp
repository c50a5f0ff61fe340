#include "serial/platform/port_inspection.h"

#include "serial/platform/tty_drivers.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int PortCount = 16;

std::string LinkBaseName(const std::string& link) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    const std::string path(target, static_cast<std::size_t>(n));
    return path.substr(path.rfind('/') + 1);
}

// Where /proc is not mounted in full, sysfs still tells a tty by its subsystem.
std::string DriverFromSysfs(unsigned major, unsigned minor) {
    const std::string node = "/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(minor);
    if (LinkBaseName(node + "/subsystem") != "tty")
        return {};
    const std::string driver = LinkBaseName(node + "/device/driver");
    return driver.empty() ? "tty" : driver;
}

std::string TtyDriver(dev_t device) {
    const std::string driver = FindTtyDriver(device).Name;
    return driver.empty() ? DriverFromSysfs(major(device), minor(device)) : driver;
}

// The kernel keeps only the first 15 bytes of a program's name ("tolvane-headles"); the name it
// was started by tells the rest, when it begins with those.
std::string ProcessName(const std::string& pidText) {
    constexpr std::size_t KeptByTheKernel = 15;
    std::ifstream comm("/proc/" + pidText + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name.size() < KeptByTheKernel)
        return name;
    // The cut name is made whole from the program file, or from the name it was started by: a
    // program started under another name (tolvane execs tolvane-headless) keeps its own argv[0].
    const auto completes = [&name](const std::string& candidate) {
        return candidate.size() > name.size() && candidate.starts_with(name);
    };
    std::error_code unreadable; // another user's process
    std::string file =
        std::filesystem::read_symlink("/proc/" + pidText + "/exe", unreadable).filename().string();
    if (constexpr std::string_view Deleted = " (deleted)"; file.ends_with(Deleted))
        file.resize(file.size() - Deleted.size()); // replaced by an upgrade since its start
    if (completes(file))
        return file;
    std::ifstream cmdline("/proc/" + pidText + "/cmdline");
    std::string started;
    std::getline(cmdline, started, '\0');
    started = std::filesystem::path(started).filename().string();
    return completes(started) ? started : name;
}

bool AllDigits(const char* text) {
    if (*text == '\0')
        return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return false;
    }
    return true;
}

// Fills in what the path of port.Device names.
void Inspect(PortInspection& port) {
    struct stat info {};
    if (::stat(port.Device.Path.c_str(), &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            port.Problem = std::strerror(errno);
        return;
    }
    port.Exists = true;
    char real[PATH_MAX];
    port.RealPath = ::realpath(port.Device.Path.c_str(), real) != nullptr ? real : port.Device.Path;
    port.CharacterDevice = S_ISCHR(info.st_mode);
    if (port.CharacterDevice)
        port.Driver = TtyDriver(info.st_rdev);
    port.ReadWrite = ::access(port.RealPath.c_str(), R_OK | W_OK) == 0;
}

} // namespace

PortInspection InspectPort(int n) {
    PortInspection port;
    port.Number = n;
    port.Device = ResolvePortDevice(n);
    Inspect(port);
    return port;
}

PortInspection InspectDevice(const std::string& path) {
    PortInspection port;
    port.Device.Path = path;
    Inspect(port);
    return port;
}

void FindPortHolders(std::vector<PortInspection>& ports) {
    // The device numbers of the ttys asked about, so each descriptor is looked at once.
    std::multimap<dev_t, PortInspection*> wanted;
    for (PortInspection& port : ports) {
        port.Holders.clear();
        port.HoldersComplete = true;
        struct stat info {};
        if (!port.Driver.empty() && ::stat(port.RealPath.c_str(), &info) == 0)
            wanted.emplace(info.st_rdev, &port);
    }
    if (wanted.empty())
        return;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        for (auto& [device, port] : wanted)
            port->HoldersComplete = false;
        return;
    }
    bool complete = true;
    while (const dirent* process = ::readdir(proc)) {
        if (!AllDigits(process->d_name))
            continue;
        const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr) {
            // A process that ended meanwhile holds nothing; one of another user is hidden.
            complete = complete && errno == ENOENT;
            continue;
        }
        std::map<PortInspection*, bool> heldHere;
        while (const dirent* fd = ::readdir(fds)) {
            struct stat info {};
            if (!AllDigits(fd->d_name) ||
                ::stat((fdFolder + "/" + fd->d_name).c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
                continue;
            const auto [first, last] = wanted.equal_range(info.st_rdev);
            for (auto it = first; it != last; ++it)
                heldHere[it->second] = true;
        }
        ::closedir(fds);
        for (auto& [port, held] : heldHere)
            port->Holders.push_back({std::atoi(process->d_name), ProcessName(process->d_name)});
    }
    ::closedir(proc);
    for (auto& [device, port] : wanted)
        port->HoldersComplete = complete;
}

std::optional<PortHolder> LockHolder(const std::string& path) {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0)
        return std::nullopt;
    // "1: FLOCK  ADVISORY  WRITE 812 00:19:3 0 EOF": the file is named by its file system's
    // device (hex) and its inode; a waiter's line has "->" after the number.
    std::ostringstream name;
    name << std::hex << std::setfill('0') << std::setw(2) << major(node.st_dev) << ':'
         << std::setw(2) << minor(node.st_dev) << ':' << std::dec << node.st_ino;
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (!(fields >> number >> kind) || kind != "FLOCK" ||
            !(fields >> mode >> access >> pid >> file) || file != name.str() ||
            !AllDigits(pid.c_str()))
            continue;
        return PortHolder{std::atoi(pid.c_str()), ProcessName(pid)};
    }
    return std::nullopt;
}

std::vector<PortInspection> InspectPorts() {
    std::vector<PortInspection> ports;
    for (int n = 1; n <= PortCount; ++n)
        ports.push_back(InspectPort(n));
    FindPortHolders(ports);
    return ports;
}
