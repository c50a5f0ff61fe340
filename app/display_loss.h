#pragma once

#include <functional>
#include <memory>

class SignalDelivery;

// Qt ends the process by itself when its display connection breaks: the platform plugin warns
// ("The X11 connection broke ...", "The Wayland connection broke ...") and calls exit(1). While
// the guard lives, that warning first runs the stop given, as Exit does, says in the system log
// and on standard error that the display was lost, and ends the process with status 1 before any
// static object is destroyed. An exit() from anywhere else while it lives runs the stop too.
//
// SIGTERM, SIGINT and SIGHUP (a logout, a shutdown, a kill) end it the same way, with status 0,
// instead of at once with every held report line.
class DisplayLossGuard {
public:
    explicit DisplayLossGuard(std::function<void()> stop);
    ~DisplayLossGuard();
    DisplayLossGuard(const DisplayLossGuard&) = delete;
    DisplayLossGuard& operator=(const DisplayLossGuard&) = delete;

private:
    std::unique_ptr<SignalDelivery> terminationSignals_;
};
