#pragma once

#include <string>

// The state folder systemd gives a service that asks for one (the first of STATE_DIRECTORY's
// folders), writable even where the settings folder is not; empty outside such a service.
std::string ServiceStateFolder();
// The user's own state folder for the program: $XDG_STATE_HOME/tolvane, else
// ~/.local/state/tolvane; empty when neither is known.
std::string UserStateFolder();
