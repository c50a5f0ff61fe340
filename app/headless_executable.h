#pragma once
// The program without windows is an executable of its own, which links no display or widget
// library; `tolvane --headless` becomes it. In the build tree it lies beside tolvane, installed
// in <prefix>/libexec/tolvane.

#include <string>

// Replaces this process (same pid, same arguments) by the program without windows; returns only
// when that failed, with the reason.
std::string ExecHeadless(char** argv);

// The folder that tolvane itself runs from, where the settings are looked for as the window looks
// for them: the build tree's, or <prefix>/bin for the installed program.
std::string ProgramFolder(const std::string& headlessFolder);
