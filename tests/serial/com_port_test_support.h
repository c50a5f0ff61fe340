#pragma once
// What the com port and driver tests share: waiting while the GUI thread handles its events, a
// device held by another process, and a port that records the events it raises.

#include "serial/apd_com_port.h"
#include "serial/platform/port_map.h"
#include "tests/support/pty_pair.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Handles the GUI thread's events until done() holds; false when it still does not after the
// (generous) deadline. Never a measure of speed.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Handles the GUI thread's events for a while: for checks that something does not happen.
inline void PumpFor(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Another process that opens a device and locks it, as a second program using the port would.
class HeldByOtherProcess {
public:
    explicit HeldByOtherProcess(const std::string& path) {
        int ready[2] = {-1, -1};
        int release[2] = {-1, -1};
        if (pipe(ready) != 0 || pipe(release) != 0)
            throw std::runtime_error("pipe");
        child_ = fork();
        if (child_ == 0) {
            // Only async-signal-safe calls in the child of a threaded process.
            close(ready[0]);
            close(release[1]);
            const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
            [[maybe_unused]] auto w = write(ready[1], &ok, 1);
            char c = 0;
            [[maybe_unused]] auto r = read(release[0], &c, 1); // until the parent lets go
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char ok = 'n';
        if (read(ready[0], &ok, 1) != 1 || ok != 'y')
            ADD_FAILURE() << "the other process could not hold " << path;
        close(ready[0]);
    }
    HeldByOtherProcess(const HeldByOtherProcess&) = delete;
    HeldByOtherProcess& operator=(const HeldByOtherProcess&) = delete;
    ~HeldByOtherProcess() {
        close(release_);
        int status = 0;
        waitpid(child_, &status, 0);
    }

private:
    pid_t child_ = -1;
    int release_ = -1;
};

// A port number mapped to a device that does not exist, for as long as it lives.
class MissingPort {
public:
    explicit MissingPort(int number) : number_(number) {
        SetPortDevice(number, "/nonexistent/tolvane-test-tty" + std::to_string(number));
    }
    MissingPort(const MissingPort&) = delete;
    MissingPort& operator=(const MissingPort&) = delete;
    ~MissingPort() { ClearPortDevice(number_); }

private:
    int number_;
};

// One event the port raised, as the capture handlers see them.
struct PortEvent {
    char Kind = '?'; // 'A' avail, 'D' data
    std::uint16_t Value = 0;
    std::string Taken; // the bytes an avail handler took
    bool operator==(const PortEvent&) const = default;
};

inline void PrintTo(const PortEvent& e, std::ostream* os) {
    *os << e.Kind << e.Value << "'" << e.Taken << "'";
}

// The bytes the avail handlers had taken when the first data event with this handle came.
inline std::string TakenBeforeData(const std::vector<PortEvent>& events, std::uint16_t handle) {
    std::string taken;
    for (const auto& e : events) {
        if (e.Kind == 'D' && e.Value == handle)
            return taken;
        taken += e.Taken;
    }
    return "<no data event " + std::to_string(handle) + ">";
}

inline bool HasData(const std::vector<PortEvent>& events, std::uint16_t handle) {
    for (const auto& e : events)
        if (e.Kind == 'D' && e.Value == handle)
            return true;
    return false;
}

// A port on a pseudo-terminal whose avail handler takes every offered byte, as the program's
// capture does, and whose data handler records the handle.
struct RecordingPort {
    explicit RecordingPort(int comNumber) : Line(comNumber) {
        Port.SetComNumber(static_cast<std::uint16_t>(comNumber));
        Port.SetPromptForPort(false);
        Port.SetBaud(9600);
        Port.SetInSize(1024);
        Port.SetOutSize(1024);
        Port.SetOnTriggerAvail([this](TApdCustomComPort& CP, std::uint16_t Count) {
            PortEvent e{'A', Count, {}};
            for (int i = 0; i < Count; ++i)
                e.Taken += CP.GetChar();
            Events.push_back(e);
            if (AfterAvail)
                AfterAvail(CP);
        });
        Port.SetOnTriggerData([this](TApdCustomComPort& CP, std::uint16_t TriggerHandle) {
            Events.push_back({'D', TriggerHandle, {}});
            if (AfterData)
                AfterData(CP);
        });
    }

    // Every byte the avail handlers took, in order.
    std::string Taken() const {
        std::string all;
        for (const auto& e : Events)
            all += e.Taken;
        return all;
    }

    // The port goes first: closing it may still raise events that these record.
    PtyPair Line;
    std::vector<PortEvent> Events;
    std::function<void(TApdCustomComPort&)> AfterAvail;
    std::function<void(TApdCustomComPort&)> AfterData;
    TApdComPort Port{nullptr};
};
