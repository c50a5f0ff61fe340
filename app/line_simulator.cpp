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
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

// The machines of the demo's lines, in its captions' order.
constexpr std::array<const char*, 8> kStations = {"MIXER", "OVEN",  "PRESS", "PRESS",
                                                  "FILL",  "LABEL", "WRAP",  "PACK"};

// Bytes a line's terminal holds that its reader has not taken yet.
int Unread(const FileDescriptor& slave) {
    int count = 0;
    return ::ioctl(slave.Get(), FIONREAD, &count) == 0 ? count : 0;
}

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

bool LineSimulator::OpenLine(Line& line) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error_ = std::string("Cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    line = Line{FileDescriptor(master), FileDescriptor(slave), name};
    termios raw{};
    if (tcgetattr(slave, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    return true;
}

bool LineSimulator::Start(int lineCount) {
    Stop();
    stopping_ = false;
    pullRequested_ = false;
    adapter_ = Adapter::Plugged;
    adapterDue_ = std::chrono::steady_clock::now() + FirstOutage;
    for (int n = 1; n <= lineCount; ++n) {
        Line line;
        if (!OpenLine(line))
            break;
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
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
    for (size_t i = 0; i < lines_.size(); ++i)
        ClearPortDevice(static_cast<int>(i + 1));
    lines_.clear();
}

std::vector<std::string> LineSimulator::DevicePaths() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const Line& line : lines_)
        paths.push_back(line.Path);
    return paths;
}

void LineSimulator::PullAdapterNow() {
    {
        std::lock_guard lock(mutex_);
        pullRequested_ = true;
    }
    wake_.notify_all();
}

std::chrono::steady_clock::time_point
LineSimulator::StepAdapter(std::chrono::steady_clock::time_point now) {
    if (lines_.size() < static_cast<std::size_t>(FaultyLine))
        return now + OutageEvery;
    Line& line = lines_[FaultyLine - 1];
    // A pull asked for while the adapter is already out is that outage.
    const bool pull = std::exchange(pullRequested_, false);
    if (adapter_ == Adapter::Plugged && (pull || now >= adapterDue_)) {
        // The line stops sending first, and the adapter goes once the program has read what it
        // sent: a closed master loses the bytes still in the terminal.
        adapter_ = Adapter::Draining;
        adapterDue_ = now + std::chrono::seconds(2);
    }
    if (adapter_ == Adapter::Draining) {
        if (Unread(line.Slave) > 0 && now < adapterDue_)
            return now + std::chrono::milliseconds(20);
        // The device node goes with the master; the slave kept open holds its number, so no other
        // terminal can turn up under the name the program retries meanwhile.
        line.Master.Close();
        adapter_ = Adapter::Away;
        adapterDue_ = now + AdapterAway;
    }
    if (adapter_ == Adapter::Away) {
        if (now < adapterDue_)
            return adapterDue_;
        // Back, as an adapter plugged in again comes back: under a new name.
        Line back;
        if (!OpenLine(back))
            return now + std::chrono::seconds(1);
        SetPortDevice(FaultyLine, back.Path);
        line = std::move(back);
        adapter_ = Adapter::Plugged;
        adapterDue_ = now + OutageEvery;
    }
    return adapterDue_;
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
    Clock::time_point adapterNext = Clock::now();
    while (!stopping_) {
        const auto next = std::min(*std::min_element(due.begin(), due.end()), adapterNext);
        if (wake_.wait_until(lock, next, [this] { return stopping_ || pullRequested_; }) &&
            stopping_)
            break;
        const auto now = Clock::now();
        adapterNext = StepAdapter(now);
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (due[i] > now)
                continue;
            // A line whose adapter is away waits with its next report, as a machine holds its
            // reports in its print buffer: none is lost.
            if (i == FaultyLine - 1 && adapter_ != Adapter::Plugged) {
                due[i] = adapterNext;
                continue;
            }
            const std::string report = MakeReport(static_cast<int>(i + 1), sequence[i]++, seed);
            // A line whose port nobody reads fills the terminal's buffer; the report is then
            // dropped by the line, as a real one sending into a disconnected cable.
            [[maybe_unused]] ssize_t written =
                write(lines_[i].Master.Get(), report.data(), report.size());
            // A report every one to three seconds, after the first few now and then a pause of up
            // to half a minute.
            const unsigned pause = sequence[i] > 4 && random() % 12 == 0 ? 8000 + random() % 22000
                                                                         : 1000 + random() % 2000;
            due[i] = now + std::chrono::milliseconds(pause);
        }
    }
}
