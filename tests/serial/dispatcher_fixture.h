#pragma once
// What the dispatcher tests share: handler windows on the GUI thread that record the events they
// get, and dispatch passes run on a worker thread while the GUI thread handles the messages, so
// that every event really crosses threads as it does in the program.

#include "serial/platform/message_window.h"
#include "tests/serial/test_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct ReceivedEvent {
    UINT Msg = 0;
    WPARAM WParam = 0;
    WORD Low = 0;
    bool operator==(const ReceivedEvent&) const = default;
};

inline void PrintTo(const ReceivedEvent& e, std::ostream* os) {
    *os << "{0x" << std::hex << e.Msg << std::dec << ", " << e.WParam << ", " << e.Low << "}";
}

inline ReceivedEvent Avail(WPARAM count) {
    return {TriggerAvailMessage, count, 0};
}
inline ReceivedEvent Data(WPARAM handle, WORD length = 1) {
    return {TriggerDataMessage, handle, length};
}

// A handler window of the dispatcher. By default it takes every byte an avail event offers.
class Receiver {
public:
    explicit Receiver(TApdBaseDispatcher& dispatcher) : dispatcher_(dispatcher) {
        window_ = std::make_unique<MessageWindow>([this](HWND, UINT msg, WPARAM w, LPARAM l) {
            Events.push_back({msg, w, static_cast<WORD>(l & 0xFFFF)});
            if (OnEvent)
                OnEvent(msg, w);
            else if (msg == TriggerAvailMessage)
                Take(static_cast<int>(w));
            return LRESULT{0};
        });
        dispatcher_.RegisterHandlerWindow(window_->Handle());
        dispatcher_.UpdateHandlerService(HandlerService::OwnerHasHandlers);
    }
    // Takes up to n bytes with GetChar; returns how many it got.
    int Take(int n) {
        int got = 0;
        BYTE c = 0;
        while (got < n && dispatcher_.GetChar(c) == 0) {
            Taken += static_cast<char>(c);
            ++got;
        }
        return got;
    }
    HWND Handle() const { return window_->Handle(); }

    std::vector<ReceivedEvent> Events;
    std::string Taken;
    std::function<void(UINT msg, WPARAM wParam)> OnEvent; // replaces the default taking

private:
    TApdBaseDispatcher& dispatcher_;
    std::unique_ptr<MessageWindow> window_;
};

// Runs work on a worker thread while this (the GUI) thread handles its messages.
inline void RunOnWorker(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    while (!done) {
        ProcessOneMessage();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    worker.join();
    ProcessOneMessage();
}

// One dispatch pass, as the dispatch thread runs it after a comm event.
inline void RunPass(TApdBaseDispatcher& dispatcher) {
    RunOnWorker([&] { dispatcher.RunCommPass(); });
}

inline std::string Bytes(std::size_t n, char c) {
    return std::string(n, c);
}
