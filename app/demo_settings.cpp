#include "app/demo_settings.h"

#include "capture/production_line.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"

#include <array>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr std::array<const char*, LineCount> DemoCaptions = {
    "Mixer", "Oven", "Press 1", "Press 2", "Filler", "Labeller", "Wrapper", "Packer"};

std::string DemoReportFile(const std::string& folder, int line) {
    return folder + "/line" + std::to_string(line) + ".txt";
}

void WriteDemoSettings(const std::string& folder) {
    ProductionLines lines;
    for (int line = 1; line <= LineCount; ++line) {
        ProductionLine& production = lines.Line(line);
        production.Caption = DemoCaptions[static_cast<std::size_t>(line - 1)];
        for (const PortSettingKind& kind : PortSettingKinds)
            production.Port.*kind.Index = kind.Default(line);
        production.Port.ComPort = line - 1;
        production.DateStamp = true;
        production.TimeStamp = true;
        // Comma, space, tab and semicolon, twice round.
        production.DelimiterCode = (line - 1) % DelimiterChoices;
    }
    SaveLineLabels(lines);
    SaveComPortSettings(lines);
    SaveStampingSettings(lines);
    for (int line = 1; line <= LineCount; ++line) {
        SaveReportDirectory(line, DemoReportFile(folder, line));
        SaveResumeReportFile(line, DemoReportFile(folder, line));
    }
    SaveResumeAtStartup(true);
}

} // namespace

bool PrepareDemoSettings(const std::string& folder) {
    struct stat existing {};
    if (::lstat(SettingsFileName().c_str(), &existing) != 0) {
        try {
            WriteDemoSettings(folder);
        } catch (const EIniFileException& error) {
            std::fprintf(stderr, "tolvane: the demo's settings could not be written: %s\n",
                         error.what());
            return false;
        }
    }
    std::fprintf(stderr,
                 "tolvane: the simulated plant's settings and report files (line1.txt to "
                 "line8.txt) are in %s/; delete that folder to start the demo afresh\n",
                 folder.c_str());
    return true;
}
