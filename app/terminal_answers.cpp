#include "app/terminal_answers.h"

#include "app/port_list.h"
#include "serial/platform/port_inspection.h"

std::string VersionText() {
    return std::string("tolvane ") + TOLVANE_VERSION;
}

std::string TerminalAnswer(const CommandLine& commandLine) {
    if (commandLine.Help)
        return commandLine.HelpText;
    if (commandLine.Version)
        return VersionText() + "\n";
    if (commandLine.ListPorts)
        return PortListText(InspectPorts());
    return {};
}
