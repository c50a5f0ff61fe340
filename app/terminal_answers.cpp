#include "app/terminal_answers.h"

#include "app/line_simulator.h"
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
    if (commandLine.ListPorts) {
        // With --simulate the simulated lines are the ports this run would use.
        LineSimulator simulator;
        if (commandLine.Simulate)
            simulator.Start();
        return PortListText(InspectPorts());
    }
    return {};
}
