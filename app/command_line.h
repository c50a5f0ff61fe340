#pragma once

#include <QStringList>
#include <string>

// What the command line asks of this run. New options go here and in ParseCommandLine.
struct CommandLine {
    std::string SettingsFile;     // --settings FILE; empty: Tolvane.ini beside the executable
    std::string ScreenshotFolder; // --screenshots DIR: save a picture of every window and end
    bool Simulate = false;        // --simulate: COM1 to COM8 are simulated production lines
    std::string Error;            // set when the arguments could not be understood
};

// The arguments as the application received them, program name first.
CommandLine ParseCommandLine(const QStringList& arguments);

// Tolvane.ini in the executable's folder, as bytes of the file system's encoding.
std::string DefaultSettingsFileName();
