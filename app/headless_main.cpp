#include "app/command_line.h"
#include "app/headless_program.h"
#include "runtime/process_start.h"

#include <QCoreApplication>
#include <cstdio>

// What `tolvane --headless` becomes: the same command line, no window system at all.
int main(int argc, char** argv) {
    PrepareProcessStart();
    const CommandLine commandLine = ParseCommandLine(argc, argv);
    if (!commandLine.Error.empty() || !commandLine.Headless) {
        std::fprintf(stderr, "tolvane: %s\n%s",
                     commandLine.Error.empty() ? "--headless expected" : commandLine.Error.c_str(),
                     UsageText().c_str());
        return 2;
    }
    QCoreApplication application(argc, argv);
    return RunHeadless(application);
}
