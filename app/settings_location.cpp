#include "app/settings_location.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#ifndef TOLVANE_INSTALLED_MARKER
#define TOLVANE_INSTALLED_MARKER "../share/tolvane/installed"
#endif

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : "/";
    }
    std::string folder = home;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// An XDG base folder: the variable when it is an absolute path, else the fallback under home.
std::string BaseFolder(const char* variable, const char* underHome) {
    const char* xdg = std::getenv(variable);
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;
    return HomeFolder() + underHome;
}

// An installed program keeps nothing in its bin folder, not even when root could write there.
// The install tree tells it so from beside the bin folder, under any prefix.
bool IsInstalledBinFolder(const std::string& folder) {
    struct stat marker {};
    const std::string path = folder + "/" + TOLVANE_INSTALLED_MARKER;
    return ::stat(path.c_str(), &marker) == 0 && S_ISREG(marker.st_mode);
}

} // namespace

std::string DemoFolder() {
    return BaseFolder("XDG_STATE_HOME", ".local/state") + "/tolvane/demo";
}

bool FolderIsWritable(const std::string& folder) {
    // An unnamed file leaves nothing behind; where the file system has none, a named one is made
    // and removed at once.
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return false;
    const std::string probe = folder + "/.tolvane-probe-" + std::to_string(::getpid());
    fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

SettingsLocation ChooseSettingsLocation(const CommandLine& commandLine,
                                        const std::string& executableFolder) {
    if (!commandLine.SettingsFile.empty())
        return {commandLine.SettingsFile, false, false};
    // The demo never touches the operator's settings, wherever those live.
    if (commandLine.Simulate)
        return {DemoFolder() + "/Tolvane.ini", true, true};
    if (!IsInstalledBinFolder(executableFolder) && FolderIsWritable(executableFolder))
        return {executableFolder + "/Tolvane.ini", false, false};
    return {BaseFolder("XDG_CONFIG_HOME", ".config") + "/tolvane/Tolvane.ini", true, false};
}
