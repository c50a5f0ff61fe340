#pragma once

#include "app/settings_location.h"

#include <string>

// Names the settings file the command line asks for, to the settings and to the port map;
// programFolder is where tolvane runs from.
SettingsLocation NameSettingsFile(const CommandLine& commandLine, const std::string& programFolder);
