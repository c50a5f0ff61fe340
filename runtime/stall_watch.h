#pragma once
// Tells when a piece of work has run longer than it may, without waking any thread while none
// does: one timer for the whole program, armed by work that starts while it is unarmed. A comm
// thread that writes a report file uses it to have its port read by another thread while the
// write stalls.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

class StallWatch {
public:
    static constexpr std::chrono::milliseconds Limit{500};

    // onStall runs on the watch's thread, once for each piece of work that outlasts Limit, and
    // never after the destructor has returned. It must not block.
    explicit StallWatch(std::function<void()> onStall);
    ~StallWatch();
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

    // The work starts; one piece at a time.
    void Begin();
    void End();
    // How long the work under way has run; zero while none is.
    std::chrono::nanoseconds Running() const;

    struct Slot {
        std::atomic<std::int64_t> Since{0}; // steady clock, ns; 0 while no work runs
        std::atomic<bool> Told{false};
        std::function<void()> OnStall;
    };

private:
    Slot* slot_;
};
