#include "app/line_simulator.h"

#include "serial/platform/port_map.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <random>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::array<const char*, 8> kStations = {"PRESS", "WELD", "PAINT", "CURE",
                                                  "ASSY",  "TEST", "PACK",  "LABEL"};

} // namespace

LineSimulator::~LineSimulator() {
    Stop();
}

std::string LineSimulator::MakeReport(int line, unsigned sequence, unsigned seed) {
    std::mt19937 random(seed ^ (sequence * 2654435761u) ^ static_cast<unsigned>(line));
    const char* station = kStations[static_cast<size_t>((line - 1) % 8)];
    const unsigned lot = 40000u + static_cast<unsigned>(line) * 1000u + sequence / 25u;
    const unsigned count = 100u + random() % 150u;
    const bool pass = random() % 20u != 0;
    char text[128];
    std::snprintf(text, sizeof text, "LOT %06u %s-%d SEQ %05u COUNT %3u %s\r\n", lot, station, line,
                  sequence, count, pass ? "PASS" : "FAIL");
    return text;
}

bool LineSimulator::Start(int lineCount) {
    Stop();
    stopping_ = false;
    for (int n = 1; n <= lineCount; ++n) {
        int master = -1, slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            error_ = std::string("Cannot open a pseudo-terminal: ") + std::strerror(errno);
            break;
        }
        Line line{FileDescriptor(master), FileDescriptor(slave), name};
        termios raw{};
        if (tcgetattr(slave, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(slave, TCSANOW, &raw);
        }
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        SetPortDevice(n, line.Path);
        lines_.push_back(std::move(line));
    }
    if (lines_.empty())
        return false;
    worker_ = std::thread([this] { Run(); });
    return error_.empty();
}

void LineSimulator::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopRequested_.notify_all();
    if (worker_.joinable())
        worker_.join();
    for (size_t i = 0; i < lines_.size(); ++i)
        ClearPortDevice(static_cast<int>(i + 1));
    lines_.clear();
}

std::vector<std::string> LineSimulator::DevicePaths() const {
    std::vector<std::string> paths;
    for (const Line& line : lines_)
        paths.push_back(line.Path);
    return paths;
}

void LineSimulator::Run() {
    using Clock = std::chrono::steady_clock;
    std::mt19937 random(static_cast<unsigned>(Clock::now().time_since_epoch().count()));
    const unsigned seed = random();
    std::vector<Clock::time_point> due(lines_.size(), Clock::now());
    std::vector<unsigned> sequence(lines_.size(), 1);
    for (auto& d : due)
        d += std::chrono::milliseconds(500 + random() % 2000);

    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const auto next = *std::min_element(due.begin(), due.end());
        if (stopRequested_.wait_until(lock, next, [this] { return stopping_; }))
            break;
        const auto now = Clock::now();
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (due[i] > now)
                continue;
            const std::string report = MakeReport(static_cast<int>(i + 1), sequence[i]++, seed);
            // A line whose port nobody reads fills the terminal's buffer; the report is then
            // dropped by the line, as a real one sending into a disconnected cable.
            [[maybe_unused]] ssize_t written =
                write(lines_[i].Master.Get(), report.data(), report.size());
            // A report every one to three seconds, now and then a pause of up to half a minute.
            const unsigned pause =
                random() % 12 == 0 ? 8000 + random() % 22000 : 1000 + random() % 2000;
            due[i] = now + std::chrono::milliseconds(pause);
        }
    }
}
