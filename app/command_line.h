#pragma once

#include <QStringList>
#include <string>

// What the command line asks of this run. New options go here and in ParseCommandLine.
struct CommandLine {
    std::string SettingsFile;     // --settings FILE; empty: Tolvane.ini beside the executable
    std::string ScreenshotFolder; // --screenshots DIR: save a picture of every window and end
    bool Simulate = false;        // --simulate: COM1 to COM8 are simulated production lines
    bool Headless = false;        // --headless: the lines without any window or display
    bool Help = false;            // --help: print the usage and end
    bool HelpAll = false;         // --help-all: the usage with Qt's own options, and end
    bool Version = false;         // --version: print the name and version and end
    bool ListPorts = false;       // --list-ports: print what COM1 to COM16 are and end
    std::string HelpText;         // what --help prints
    std::string Error;            // set when the arguments could not be understood

    // Answered on the terminal alone, with no window and no display.
    bool AnsweredOnTerminal() const { return Help || HelpAll || Version || ListPorts; }
};

// The arguments as the application received them, program name first. Needs no application
// object: the command line is read before anything asks for a display.
CommandLine ParseCommandLine(const QStringList& arguments);
CommandLine ParseCommandLine(int argc, char** argv);

// Prints the usage with Qt's own options, under the running application, and ends the process.
[[noreturn]] void PrintHelpAll(const QStringList& arguments);

// What a command line that is not understood prints, after the error, on standard error.
std::string UsageText();

// Tolvane.ini in the executable's folder, as bytes of the file system's encoding.
std::string DefaultSettingsFileName();
