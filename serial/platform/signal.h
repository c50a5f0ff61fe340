#pragma once
// Stand-in for a Win32 event object: auto- or manual-reset, waited on alone or as one of two.

#include <condition_variable>
#include <mutex>
#include <vector>

class Signal {
public:
    static constexpr int Infinite = -1;

    explicit Signal(bool manualReset);
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;
    ~Signal();

    void Set();
    void Reset();
    // True when signalled within the time-out (milliseconds, or Infinite). An auto-reset signal is
    // reset by the wait that takes it.
    bool Wait(int timeoutMs);
    // Waits for either signal: 0 or 1 for the one taken (the first wins when both are set), -1 on
    // time-out.
    static int WaitAny(Signal& first, Signal& second, int timeoutMs);

private:
    struct Waiter {
        std::mutex Mutex;
        std::condition_variable Changed;
        bool Woken = false;
    };
    bool TryTake();
    void AddWaiter(Waiter* waiter);
    void RemoveWaiter(Waiter* waiter);

    const bool manualReset_;
    std::mutex mutex_;
    bool state_ = false;
    std::vector<Waiter*> waiters_;
};
