#pragma once
// Report lines on their way to the MQTT broker: handed over by capture without waiting, spooled
// per line on disk and published from the spool, QoS 1, on a thread of their own, which is the
// only one that touches the disk or the network. A record leaves its spool once the broker has
// acknowledged it. The connection is tried again at a growing interval up to 60 s; each cause of
// a failure goes to the system log once.

#include "broker/broker_config.h"
#include "capture/production_line.h"
#include "capture/report_line_sink.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// How forwarding stands, for the dialog's status line.
struct ForwarderStatus {
    bool Enabled = false;
    bool Connected = false;
    std::string Server; // "mqtt://host:port"
    std::string Cause;  // why the latest try failed: "connection refused"
    std::chrono::system_clock::time_point TryingSince{};
    // Why report lines are not forwarded at all: "another Tolvane (pid 4242) forwards from the
    // spools in /etc/tolvane/Tolvane.spool".
    std::string NotForwarding;
    std::uint64_t Waiting = 0;      // report lines not yet acknowledged by the broker
    std::uint64_t NotForwarded = 0; // report lines refused since the start: a spool was full
};

// "connected to mqtt://host:1883", "trying since 14:02:11: connection refused", "412 report
// lines waiting", "forwarding is off", joined by "; ".
std::string ForwarderStatusText(const ForwarderStatus& status);

class BrokerForwarder {
public:
    // The spools are spoolFolder/line1.spool to line8.spool, made when first needed. What an
    // earlier run left unsent in the same spools in otherFolders is sent first, and each line's
    // seq goes on past theirs.
    explicit BrokerForwarder(std::string spoolFolder, std::vector<std::string> otherFolders = {});
    // Spools what was handed over, says "offline" and disconnects.
    ~BrokerForwarder();
    BrokerForwarder(const BrokerForwarder&) = delete;
    BrokerForwarder& operator=(const BrokerForwarder&) = delete;

    // Connects anew with this configuration; nothing: forwarding is off (the spools are kept).
    void Configure(std::optional<BrokerConfig> config);
    // Line 1..8: the caption that the next report lines carry.
    void SetCaption(int line, std::string caption);
    // Line 1..8: the state the line's retained state topic says, from now.
    void SetLineState(int line, std::string state);
    // The line's hand-over, for ProductionLine::Forward.
    ReportLineSink& Sink(int line);
    ForwarderStatus Status() const;
    const std::string& SpoolFolder() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};
