#pragma once
// Where this run keeps its settings: the file named by --settings; else, for --simulate, the
// demo's own file in $XDG_STATE_HOME/tolvane/demo/ (~/.local/state/tolvane/demo/); else
// Tolvane.ini beside the executable, where a copied folder or the build tree keeps it; else, for
// an installed program, $XDG_CONFIG_HOME/tolvane/Tolvane.ini (~/.config/tolvane/Tolvane.ini).

#include "app/command_line.h"

#include <string>

struct SettingsLocation {
    std::string File;
    bool CreateFolder = false; // the folder may be missing: the first write creates it
    bool Demo = false;         // the simulated plant's file, which no other run reads or writes
};

// The folder of the simulated plant: its settings file and its lines' report files.
std::string DemoFolder();

// executableFolder is the folder of the running executable, without a trailing separator. The
// program counts as installed when ../share/tolvane/installed (the install tree's marker, found
// relative to the bin folder) is beside it, whatever the prefix.
SettingsLocation ChooseSettingsLocation(const CommandLine& commandLine,
                                        const std::string& executableFolder);

// Whether a file can be created in the folder now, by this user: tried, not guessed from mode
// bits, which root passes even where nothing can be written.
bool FolderIsWritable(const std::string& folder);
