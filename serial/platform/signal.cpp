#include "serial/platform/signal.h"

#include <algorithm>
#include <chrono>

Signal::Signal(bool manualReset) : manualReset_(manualReset) {}

Signal::~Signal() = default;

void Signal::Set() {
    std::lock_guard lock(mutex_);
    state_ = true;
    for (Waiter* w : waiters_) {
        std::lock_guard wl(w->Mutex);
        w->Woken = true;
        w->Changed.notify_all();
    }
}

void Signal::Reset() {
    std::lock_guard lock(mutex_);
    state_ = false;
}

bool Signal::TryTake() {
    std::lock_guard lock(mutex_);
    if (!state_)
        return false;
    if (!manualReset_)
        state_ = false;
    return true;
}

void Signal::AddWaiter(Waiter* waiter) {
    std::lock_guard lock(mutex_);
    waiters_.push_back(waiter);
}

void Signal::RemoveWaiter(Waiter* waiter) {
    std::lock_guard lock(mutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

bool Signal::Wait(int timeoutMs) {
    return WaitAny(*this, *this, timeoutMs) == 0;
}

int Signal::WaitAny(Signal& first, Signal& second, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    Waiter waiter;
    first.AddWaiter(&waiter);
    if (&second != &first)
        second.AddWaiter(&waiter);
    int taken = -1;
    for (;;) {
        {
            std::lock_guard wl(waiter.Mutex);
            waiter.Woken = false;
        }
        if (first.TryTake()) {
            taken = 0;
            break;
        }
        if (&second != &first && second.TryTake()) {
            taken = 1;
            break;
        }
        std::unique_lock wl(waiter.Mutex);
        if (waiter.Woken)
            continue;
        if (timeoutMs < 0) {
            waiter.Changed.wait(wl, [&] { return waiter.Woken; });
        } else if (!waiter.Changed.wait_until(wl, deadline, [&] { return waiter.Woken; })) {
            wl.unlock();
            // A last look: a Set racing with the time-out still counts.
            if (first.TryTake())
                taken = 0;
            else if (&second != &first && second.TryTake())
                taken = 1;
            break;
        }
    }
    first.RemoveWaiter(&waiter);
    if (&second != &first)
        second.RemoveWaiter(&waiter);
    return taken;
}
