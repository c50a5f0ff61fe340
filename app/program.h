#pragma once

#include "ui/form_set.h"

class QApplication;

// One run of the program: its windows, created hidden in order, and the main window on screen.
class Program {
public:
    Program() = default;

    FormSet& Forms() { return forms_; }
    // Shows the main window centred on the screen; its start-up timer then runs the start-up.
    void ShowMainForm();

private:
    FormSet forms_;
};

// The whole run: the application's title, the command line, the settings file, the windows and
// the event loop, which ends when the main window closes. Returns the exit code.
int RunProgram(QApplication& application);

// Prints the answer to --help, --help-all, --version or --list-ports, under a plain
// QCoreApplication with no window system. Returns the exit code.
int RunTerminalAnswer();
