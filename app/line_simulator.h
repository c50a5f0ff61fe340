#pragma once
// Simulated production lines: eight pseudo-terminals put into the port map as COM1 to COM8, each
// fed with plausible reports, so the whole program can be tried without serial hardware. One
// line's adapter goes away for a while every few minutes, as USB adapters do.

#include "runtime/posix_io.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LineSimulator {
public:
    // The line whose adapter goes away, how long it stays away, and how often.
    static constexpr int FaultyLine = 3;
    static constexpr std::chrono::seconds AdapterAway{10};
    static constexpr std::chrono::seconds FirstOutage{90};
    static constexpr std::chrono::seconds OutageEvery{240};

    LineSimulator() = default;
    LineSimulator(const LineSimulator&) = delete;
    LineSimulator& operator=(const LineSimulator&) = delete;
    ~LineSimulator();

    // Opens the lines and starts sending. False (with Error()) when no pseudo-terminal could be
    // opened; lines opened before a failure keep running.
    bool Start(int lineCount = 8);
    void Stop();
    const std::string& Error() const { return error_; }
    // The device each simulated COM port names now (COM1 first).
    std::vector<std::string> DevicePaths() const;
    // Pulls the faulty line's adapter now rather than at its next turn; it comes back
    // AdapterAway later, under a new device name.
    void PullAdapterNow();

    // One report of line `line` (1-based) with sequence number `sequence`, CR LF ended.
    static std::string MakeReport(int line, unsigned sequence, unsigned seed);

private:
    struct Line {
        FileDescriptor Master;
        FileDescriptor Slave; // kept open so the master never sees a hang-up between program opens
        std::string Path;
    };
    // Where the faulty line's adapter is in its cycle.
    enum class Adapter { Plugged, Draining, Away };

    bool OpenLine(Line& line);
    void Run();
    // Moves the faulty line's adapter on; the next time it needs looking at.
    std::chrono::steady_clock::time_point StepAdapter(std::chrono::steady_clock::time_point now);

    std::vector<Line> lines_;
    std::thread worker_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool pullRequested_ = false;
    Adapter adapter_ = Adapter::Plugged;
    std::chrono::steady_clock::time_point adapterDue_;
    std::string error_;
};
