#pragma once
// The one place where the capture fuzz target meets the capture handlers: a production line whose
// port holds the fuzzed bytes, stamps off, its start button set by the target, views kept in
// memory and a report file in the scratch folder.

#include "capture/line_capture.h"
#include "capture/production_line.h"
#include "tests/fuzz/fuzz_target.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

class FuzzCaptureLine : public LineEndpoints {
public:
    static constexpr std::uint16_t Trigger = 8;

    explicit FuzzCaptureLine(std::string reportFile) {
        line_.Capture.LineTriggerHandle = Trigger;
        line_.Capture.Delimiter = ',';
        line_.DateStamp = false;
        line_.TimeStamp = false;
        line_.ReportFile = std::move(reportFile);
        line_.Started = true;
    }

    void Receive(const std::string& bytes) { port_ += bytes; }
    void Avail(std::uint16_t count) { HandleTriggerAvail(line_, *this, count); }
    void Data(std::uint16_t handle) { HandleTriggerData(line_, *this, handle); }
    const std::string& Pending() const { return line_.Capture.PendingText; }
    void SetStarted(bool started) { line_.Started = started; }
    bool Started() const { return line_.Started; }
    // Report files are written by the line's writer thread: wait until it has tried every line.
    bool ReportsWritten() { return line_.Writer().WaitUntilTried(std::chrono::seconds(10)); }

    std::size_t Unread() const { return port_.size() - next_; }
    std::vector<std::string> Views;

    char TakeChar() override {
        FuzzExpect(next_ < port_.size(), "a handler takes only the bytes it was offered");
        return port_[next_++];
    }
    void AddToViews(const std::string& reportLine) override { Views.push_back(reportLine); }

private:
    ProductionLine line_;
    std::string port_;
    std::size_t next_ = 0;
};
