#pragma once
// Where this run keeps its settings: the file named by --settings; else Tolvane.ini beside the
// executable, where a copied folder or the build tree keeps it; else, for an installed program,
// $XDG_CONFIG_HOME/tolvane/Tolvane.ini (~/.config/tolvane/Tolvane.ini).

#include "app/command_line.h"

#include <string>

struct SettingsLocation {
    std::string File;
    bool CreateFolder = false; // the folder may be missing: the first write creates it
};

// executableFolder is the folder of the running executable, without a trailing separator.
SettingsLocation ChooseSettingsLocation(const CommandLine& commandLine,
                                        const std::string& executableFolder);

// Whether a file can be created in the folder now, by this user: tried, not guessed from mode
// bits, which root passes even where nothing can be written.
bool FolderIsWritable(const std::string& folder);
