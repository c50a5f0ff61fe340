#pragma once
// The options answered on the terminal alone: --help, --version and --list-ports.

#include "app/command_line.h"

#include <string>

// What the command line asks to be printed, the settings file already named to the port map.
std::string TerminalAnswer(const CommandLine& commandLine);

// "tolvane 2.3".
std::string VersionText();
