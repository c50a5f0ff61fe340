#include "runtime/service_state_folder.h"

#include <cstdlib>

std::string ServiceStateFolder() {
    const char* folders = std::getenv("STATE_DIRECTORY");
    if (folders == nullptr || folders[0] != '/')
        return {};
    const std::string all(folders);
    return all.substr(0, all.find(':'));
}
