#include "app/headless_executable.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

const std::filesystem::path InstalledPlace = TOLVANE_HEADLESS_FROM_BINDIR;
constexpr const char* Name = "tolvane-headless";

} // namespace

std::string ExecHeadless(char** argv) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "cannot find the running program: " + error.message();
    const std::filesystem::path folder = self.parent_path();
    for (const std::filesystem::path& candidate : {folder / Name, folder / InstalledPlace}) {
        if (::access(candidate.c_str(), X_OK) == 0) {
            ::execv(candidate.c_str(), argv);
            return candidate.string() + " cannot be started: " + std::strerror(errno);
        }
    }
    return (folder / InstalledPlace).string() + " is missing";
}

std::string ProgramFolder(const std::string& headlessFolder) {
    const std::filesystem::path folder(headlessFolder);
    if (std::filesystem::exists(folder / "tolvane"))
        return headlessFolder;
    return (folder / TOLVANE_BINDIR_FROM_HEADLESS).lexically_normal().string();
}
