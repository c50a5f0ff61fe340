#pragma once

#include <QStringList>
#include <string>

// What the command line asks of this run. New options go here and in ParseCommandLine.
struct CommandLine {
    std::string SettingsFile;     // --settings FILE; empty: Tolvane.ini beside the executable
    std::string ScreenshotFolder; // --screenshots DIR: save a picture of every window and end
    bool Simulate = false;        // --simulate: COM1 to COM8 are simulated production lines
    bool Help = false;            // --help: print the usage and end
    bool Version = false;         // --version: print the name and version and end
    bool ListPorts = false;       // --list-ports: print what COM1 to COM16 are and end
    std::string HelpText;         // what --help prints
    std::string Error;            // set when the arguments could not be understood

    // Answered on the terminal alone, with no window and no display.
    bool AnsweredOnTerminal() const { return Help || Version || ListPorts; }
};

// The arguments as the application received them, program name first.
CommandLine ParseCommandLine(const QStringList& arguments);

// Tolvane.ini in the executable's folder, as bytes of the file system's encoding.
std::string DefaultSettingsFileName();
