#pragma once
// The one place where the capture fuzz target meets the capture handlers: a production line whose
// port holds the fuzzed bytes, stamps off, its start button set by the target, views kept in
// memory and a report file in the scratch folder. One line, with its writer's thread, serves the
// whole run; each input gets it back as a line that has just been started. The writer holds its
// appends until the input's last event: its lines then go to the file in one batch instead of
// one thread hand-over each, and the file is read once they are all in.

#include "capture/line_capture.h"
#include "capture/production_line.h"
#include "capture/report_file.h"
#include "tests/fuzz/fuzz_target.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class FuzzCaptureLine : public LineEndpoints {
public:
    static constexpr std::uint16_t Trigger = 8;

    // The run's line, started into reportFile, which is removed; no byte waiting, none shown.
    static FuzzCaptureLine& Fresh(const std::string& reportFile) {
        static FuzzCaptureLine line;
        line.line_.Capture.PendingText.clear();
        line.line_.Capture.ReportLine.clear();
        line.line_.ReportFile = reportFile;
        line.line_.Started = true;
        line.port_.clear();
        line.next_ = 0;
        line.Views.clear();
        FuzzExpect(line.ReportsWritten(), "the last input's report lines are written");
        std::remove(reportFile.c_str());
        line.HoldAppends(true);
        return line;
    }

    // Gives back what the input made the line hold. An input that ends with as many blocks freed
    // as it allocated is not run a second time to look for a leak.
    void Release() {
        std::string().swap(line_.Capture.PendingText);
        std::string().swap(line_.Capture.ReportLine);
        std::string().swap(port_);
        std::vector<std::string>().swap(Views);
    }

    void Receive(const std::string& bytes) { port_ += bytes; }
    void Avail(std::uint16_t count) { HandleTriggerAvail(line_, *this, count); }
    void Data(std::uint16_t handle) { HandleTriggerData(line_, *this, handle); }
    const std::string& Pending() const { return line_.Capture.PendingText; }
    void SetStarted(bool started) { line_.Started = started; }
    bool Started() const { return line_.Started; }
    // Report files are written by the line's writer thread: wait until it has tried every line.
    bool ReportsWritten() {
        HoldAppends(false);
        return line_.Writer().WaitUntilTried(std::chrono::seconds(10));
    }

    std::size_t Unread() const { return port_.size() - next_; }
    std::vector<std::string> Views;

    std::size_t TakeChars(char* into, std::size_t count) override {
        FuzzExpect(count <= port_.size() - next_, "a handler takes only the bytes it was offered");
        count = std::min(count, port_.size() - next_);
        port_.copy(into, count, next_);
        next_ += count;
        return count;
    }
    void AddToViews(const std::string& reportLine) override { Views.push_back(reportLine); }

private:
    FuzzCaptureLine() {
        SetReportAppender([this](const std::string& file, const std::string& text) {
            std::unique_lock lock(holdMutex_);
            released_.wait(lock, [this] { return !hold_; });
            lock.unlock();
            AppendReportLine(file, text);
        });
        line_.Capture.LineTriggerHandle = Trigger;
        line_.Capture.Delimiter = ',';
        line_.DateStamp = false;
        line_.TimeStamp = false;
    }

    ~FuzzCaptureLine() {
        HoldAppends(false);
        SetReportAppender({});
    }

    void HoldAppends(bool hold) {
        {
            std::lock_guard lock(holdMutex_);
            hold_ = hold;
        }
        released_.notify_all();
    }

    std::mutex holdMutex_;
    std::condition_variable released_;
    bool hold_ = false;
    ProductionLine line_;
    std::string port_;
    std::size_t next_ = 0;
};
