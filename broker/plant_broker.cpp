#include "broker/plant_broker.h"

#include "capture/line_state.h"
#include "runtime/service_state_folder.h"
#include "runtime/system_log.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"

#include <unistd.h>

std::string ForwardedLineState(const ProductionLines& lines, int line) {
    const ProductionLine& production = lines.Line(line);
    // To the plant, a line that is not started, or whose port was refused, is stopped; any
    // other line is in the state its panel shows.
    if (!production.Started || production.PortStatus == PortState::Refused)
        return "stopped";
    return LineStateName(LineStateOf(lines, line));
}

namespace {

struct SettingsFilePlace {
    std::string Folder; // "/" for a file in the root
    std::string Name;   // without its extension
};

SettingsFilePlace PlaceOf(const std::string& settingsFile) {
    const std::size_t slash = settingsFile.rfind('/');
    SettingsFilePlace place;
    place.Folder = slash == std::string::npos ? "." : settingsFile.substr(0, slash);
    if (place.Folder.empty())
        place.Folder = "/";
    place.Name = slash == std::string::npos ? settingsFile : settingsFile.substr(slash + 1);
    const std::size_t dot = place.Name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        place.Name.erase(dot);
    if (place.Name.empty())
        place.Name = "tolvane";
    return place;
}

} // namespace

std::vector<std::string> SpoolFolderCandidates(const std::string& settingsFile) {
    const SettingsFilePlace place = PlaceOf(settingsFile);
    const std::string spools = place.Name + ".spool";
    std::vector<std::string> folders{(place.Folder == "/" ? "" : place.Folder) + "/" + spools};
    if (const std::string service = ServiceStateFolder(); !service.empty())
        folders.push_back(service + "/" + spools);
    const std::string state = UserStateFolder();
    folders.push_back((state.empty() ? std::string("/tmp/tolvane") : state) + "/" + spools);
    return folders;
}

std::string SpoolFolderFor(const std::string& settingsFile) {
    const std::vector<std::string> folders = SpoolFolderCandidates(settingsFile);
    // A settings file in /etc, say, that the program may read but not write beside: the
    // service's state folder that systemd gives it, else the user's.
    return ::access(PlaceOf(settingsFile).Folder.c_str(), W_OK) == 0 ? folders[0] : folders[1];
}

PlantBroker::PlantBroker(ProductionLines& lines)
    : lines_(lines),
      forwarder_(std::make_unique<BrokerForwarder>(SpoolFolderFor(SettingsFileName()),
                                                   SpoolFolderCandidates(SettingsFileName()))) {
    for (int line = 1; line <= LineCount; ++line)
        forwarder_->SetCaption(line, lines_.Line(line).Caption);
    connect(&lines_, &ProductionLines::CaptionChanged, this,
            [this](int line) { forwarder_->SetCaption(line, lines_.Line(line).Caption); });
    connect(&lines_, &ProductionLines::PortsSetUp, this, &PlantBroker::FollowLineStates);
    connect(&lines_, &ProductionLines::PortChanged, this, &PlantBroker::FollowLineStates);
    connect(&lines_, &ProductionLines::ReportsChanged, this, &PlantBroker::FollowLineStates);
    connect(&lines_, &ProductionLines::LineStateChanged, this, &PlantBroker::FollowLineStates);
    connect(&lines_, &ProductionLines::StartedChanged, this, &PlantBroker::FollowLineStates);
}

PlantBroker::~PlantBroker() {
    Attach(false);
}

void PlantBroker::Attach(bool on) {
    for (int line = 1; line <= LineCount; ++line)
        lines_.Line(line).Forward.Set(on ? &forwarder_->Sink(line) : nullptr);
}

void PlantBroker::ApplySettings() {
    const BrokerSettings settings = LoadBrokerSettings();
    std::optional<BrokerConfig> config;
    unusable_.clear();
    if (settings.Enabled) {
        std::string error;
        config = ResolveBrokerConfig(settings, error);
        if (!config) {
            unusable_ = error;
            if (error != badSettingsLogged_)
                SystemLog(LogLevel::Error,
                          "Report lines are spooled, not forwarded, until [Broker] in "
                          "the settings file " +
                              SettingsFileName() + " is mended. " + error);
        }
        badSettingsLogged_ = error;
    }
    FollowLineStates();
    // Report lines wait in their spools, numbered, while the settings cannot be used, as while the
    // broker cannot be reached: they go once a usable address comes.
    Attach(settings.Enabled);
    forwarder_->Configure(std::move(config));
}

void PlantBroker::FollowLineStates() {
    for (int line = 1; line <= LineCount; ++line)
        forwarder_->SetLineState(line, ForwardedLineState(lines_, line));
}

ForwarderStatus PlantBroker::Status() const {
    ForwarderStatus status = forwarder_->Status();
    if (!unusable_.empty()) {
        status.Enabled = true;
        status.NotForwarding = "[Broker] in the settings file cannot be used. " + unusable_;
    }
    return status;
}
