#pragma once
// Waiting in tests for what another thread or process does, without a fixed sleep.

#include <chrono>
#include <thread>

// Whether the condition came true within the patience; looked at every 20 ms.
template <class Condition>
bool WaitFor(Condition condition, std::chrono::seconds patience = std::chrono::seconds(30)) {
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}
