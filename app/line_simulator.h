#pragma once
// Simulated production lines: eight pseudo-terminals put into the port map as COM1 to COM8, each
// fed with plausible reports, so the whole program can be tried without serial hardware.

#include "runtime/posix_io.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LineSimulator {
public:
    LineSimulator() = default;
    LineSimulator(const LineSimulator&) = delete;
    LineSimulator& operator=(const LineSimulator&) = delete;
    ~LineSimulator();

    // Opens the lines and starts sending. False (with Error()) when no pseudo-terminal could be
    // opened; lines opened before a failure keep running.
    bool Start(int lineCount = 8);
    void Stop();
    const std::string& Error() const { return error_; }
    // The device each simulated COM port names (COM1 first).
    std::vector<std::string> DevicePaths() const;

    // One report of line `line` (1-based) with sequence number `sequence`, CR LF ended.
    static std::string MakeReport(int line, unsigned sequence, unsigned seed);

private:
    struct Line {
        FileDescriptor Master;
        FileDescriptor Slave; // kept open so the master never sees a hang-up between program opens
        std::string Path;
    };
    void Run();

    std::vector<Line> lines_;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable stopRequested_;
    bool stopping_ = false;
    std::string error_;
};
