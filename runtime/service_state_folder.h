#pragma once

#include <string>

// The state folder systemd gives a service that asks for one (the first of STATE_DIRECTORY's
// folders), writable even where the settings folder is not; empty outside such a service.
std::string ServiceStateFolder();
