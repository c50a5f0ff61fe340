#pragma once
// The one place where the trigger-scan fuzz target meets the dispatcher: a dispatcher on the test
// device, characters-available threshold 1, and one handler window on this thread that takes
// every byte offered and records what it was told. Passes run on this thread, so the events reach
// the window directly. The device and the window live for the run; each input gets the port
// reopened, which is what empties its trigger table and puts every ring position back to 0.

#include "serial/platform/message_window.h"
#include "tests/serial/test_device.h"

#include <string>
#include <vector>

class FuzzScanPort {
public:
    struct Event {
        bool IsData;             // a data trigger matched; else characters available
        WPARAM Value;            // the handle, or the count offered
        WORD Length;             // the matched trigger's length
        std::size_t TakenBefore; // bytes the window had taken when the event came
    };

    // The run's port, reopened for one input: no trigger, nothing received, nothing recorded.
    static FuzzScanPort& Fresh();
    ~FuzzScanPort();
    FuzzScanPort(const FuzzScanPort&) = delete;
    FuzzScanPort& operator=(const FuzzScanPort&) = delete;

    // Moves the receive ring's start: count bytes are received, scanned and dropped before any
    // trigger exists, so that the input's bytes and patterns straddle the ring's wrap. False when
    // they could not be.
    bool StartRingAt(std::size_t count);
    // The handle, or the dispatcher's error code.
    int AddTrigger(const std::string& pattern, bool ignoreCase);
    // Bytes the device receives in one read of its driver.
    void Receive(const std::string& bytes);
    // Runs dispatch passes until every received byte has been scanned and offered; false when
    // the passes stop making progress.
    bool DeliverAll();

    std::vector<Event> Events;
    std::string Taken;

private:
    FuzzScanPort();
    LRESULT Handle(UINT msg, WPARAM w, LPARAM l);

    TestDevice device_; // reopening it finds its line settings unchanged and so skips the drain
                        // wait that a first open takes
    MessageWindow window_;
    bool dropping_ = false; // StartRingAt's bytes are left in the ring, not taken
};
