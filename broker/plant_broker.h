#pragma once
// Forwarding as the program runs it: the [Broker] settings applied to the forwarder, each line's
// report lines handed to it while forwarding is on, and the lines' states and captions followed.
// Made and used on the thread that owns the production lines (the GUI thread, or the headless
// program's main thread); it must be destroyed only once the ports are silent.

#include "broker/broker_forwarder.h"
#include "capture/production_line.h"

#include <QObject>
#include <memory>
#include <string>
#include <vector>

// The state line 1..8's state topic names, from the state its panel shows.
std::string ForwardedLineState(const ProductionLines& lines, int line);

// Where the spools of the program that uses this settings file live: beside it in
// <name>.spool/, or, when the settings folder cannot be written, in the service's state folder
// (STATE_DIRECTORY) or the XDG state folder.
std::string SpoolFolderFor(const std::string& settingsFile);
// Every place SpoolFolderFor may give for the settings file, as runs that could write beside it
// and runs that could not find them.
std::vector<std::string> SpoolFolderCandidates(const std::string& settingsFile);

class PlantBroker : public QObject {
    Q_OBJECT

public:
    explicit PlantBroker(ProductionLines& lines);
    ~PlantBroker() override;

    // Reads [Broker] from the settings file and acts on it: forwarding on or off, connected anew.
    void ApplySettings();
    ForwarderStatus Status() const;
    std::string StatusText() const { return ForwarderStatusText(Status()); }

private:
    void FollowLineStates();
    void Attach(bool on);

    ProductionLines& lines_;
    std::unique_ptr<BrokerForwarder> forwarder_;
    std::string badSettingsLogged_;
    std::string unusable_; // why the [Broker] settings cannot be used, while forwarding is on
};
