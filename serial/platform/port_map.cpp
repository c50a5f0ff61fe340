#include "serial/platform/port_map.h"

#include "runtime/posix_io.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>

namespace {

struct PortMapState {
    std::mutex Mutex;
    std::map<int, std::string> Overrides;
    std::string SettingsFile;
};

PortMapState& State() {
    static PortMapState state;
    return state;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Larger than any settings file could honestly be.
constexpr std::size_t MaxSettingsFileSize = std::size_t{64} * 1024 * 1024;

// The value of key in section of an INI file, both names matched without regard to case; none
// when the file, the section or the key is missing. Lines may end in CR LF or LF; a value in
// matching quotes loses them, as the profile functions do.
std::optional<std::string> ReadIniValue(const std::string& fileName, std::string_view section,
                                        std::string_view key) {
    // Opened without waiting, so that a FIFO in the file's place reads as no file instead of
    // hanging the open.
    const FileDescriptor file =
        OpenRetrying(fileName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    std::string text;
    if (!file.Valid() || ReadRegularFile(file.Get(), MaxSettingsFileSize, text) != 0)
        return std::nullopt;
    std::istringstream in(text);
    bool inSection = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view text = Trim(line);
        if (text.empty() || text.front() == ';')
            continue;
        if (text.front() == '[') {
            const auto close = text.find(']');
            inSection = close != std::string_view::npos &&
                        EqualNoCase(Trim(text.substr(1, close - 1)), section);
            continue;
        }
        const auto equals = text.find('=');
        if (!inSection || equals == std::string_view::npos ||
            !EqualNoCase(Trim(text.substr(0, equals)), key))
            continue;
        std::string_view value = Trim(text.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return std::nullopt;
}

} // namespace

void SetPortDevice(int n, const std::string& path) {
    std::lock_guard lock(State().Mutex);
    State().Overrides[n] = path;
}

void ClearPortDevice(int n) {
    std::lock_guard lock(State().Mutex);
    State().Overrides.erase(n);
}

void SetPortMapSettingsFile(const std::string& path) {
    std::lock_guard lock(State().Mutex);
    State().SettingsFile = path;
}

PortDevice ResolvePortDevice(int n) {
    std::string settingsFile;
    {
        std::lock_guard lock(State().Mutex);
        const auto found = State().Overrides.find(n);
        if (found != State().Overrides.end())
            return {found->second, PortDeviceSource::Override};
        settingsFile = State().SettingsFile;
    }
    // Read at every open, so a device the operator names takes effect without a restart.
    if (!settingsFile.empty()) {
        const auto value = ReadIniValue(settingsFile, "PortDevices", "COM" + std::to_string(n));
        if (value && !value->empty())
            return {*value, PortDeviceSource::Settings};
    }
    return {DefaultPortDevicePath(n), PortDeviceSource::Default};
}

std::string DefaultPortDevicePath(int n) {
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::string PortDevicePath(int n) {
    return ResolvePortDevice(n).Path;
}

int ParseComDeviceName(const std::string& name) {
    std::string_view text = name;
    if (text.substr(0, 4) == R"(\\.\)")
        text.remove_prefix(4);
    if (text.size() < 4 || !EqualNoCase(text.substr(0, 3), "COM"))
        return 0;
    text.remove_prefix(3);
    if (text.size() > 3 || text.front() == '0')
        return 0;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + (c - '0');
    }
    return n <= 255 ? n : 0;
}
