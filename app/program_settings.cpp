#include "app/program_settings.h"

#include "app/command_line.h"
#include "serial/platform/port_map.h"
#include "settings/profile.h"

SettingsLocation NameSettingsFile(const CommandLine& commandLine,
                                  const std::string& programFolder) {
    const SettingsLocation location = ChooseSettingsLocation(commandLine, programFolder);
    SetSettingsFileName(location.File, location.CreateFolder);
    SetPortMapSettingsFile(SettingsFileName());
    return location;
}
