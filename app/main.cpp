#include "app/command_line.h"
#include "app/headless_executable.h"
#include "app/program.h"
#include "runtime/process_start.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    PrepareProcessStart();
    // Read before any application exists, so that a usage error or an answer for the terminal
    // needs no display.
    const CommandLine commandLine = ParseCommandLine(argc, argv);
    if (!commandLine.Error.empty()) {
        std::fprintf(stderr, "tolvane: %s\n%s", commandLine.Error.c_str(), UsageText().c_str());
        return 2;
    }
    if (commandLine.AnsweredOnTerminal()) {
        QCoreApplication application(argc, argv);
        return RunTerminalAnswer();
    }
    if (commandLine.Headless) {
        const std::string failure = ExecHeadless(argv);
        std::fprintf(stderr, "tolvane: %s\n", failure.c_str());
        return 1;
    }
    QApplication application(argc, argv);
    return RunProgram(application);
}
