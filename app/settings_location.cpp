#include "app/settings_location.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <unistd.h>

#ifndef TOLVANE_INSTALL_BINDIR
#define TOLVANE_INSTALL_BINDIR ""
#endif

namespace {

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : "/";
    }
    std::string folder = home;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + ".config";
}

// An installed program keeps nothing in its bin folder, not even when root could write there.
bool IsInstalledBinFolder(const std::string& folder) {
    const std::string installed = TOLVANE_INSTALL_BINDIR;
    return !installed.empty() && folder == installed;
}

} // namespace

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
        return {commandLine.SettingsFile, false};
    if (!IsInstalledBinFolder(executableFolder) && FolderIsWritable(executableFolder))
        return {executableFolder + "/Tolvane.ini", false};
    return {ConfigHome() + "/tolvane/Tolvane.ini", true};
}
