#include "runtime/service_state_folder.h"

#include <cstdlib>

std::string ServiceStateFolder() {
    const char* folders = std::getenv("STATE_DIRECTORY");
    if (folders == nullptr || folders[0] != '/')
        return {};
    const std::string all(folders);
    return all.substr(0, all.find(':'));
}

std::string UserStateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return std::string(state) + "/tolvane";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/state/tolvane";
    return {};
}
