#pragma once
// The one place where the trigger-scan fuzz target meets the dispatcher: a dispatcher on the test
// device, characters-available threshold 1, and one handler window on this thread that takes
// every byte offered and records what it was told. Passes run on this thread, so the events reach
// the window directly.

#include "serial/platform/message_window.h"
#include "tests/serial/test_device.h"

#include <memory>
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

    FuzzScanPort();
    ~FuzzScanPort();

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
    TestDevice& device_; // one for the process: reopening it finds its line settings unchanged
                         // and so skips the drain wait that a first open takes
    std::unique_ptr<MessageWindow> window_;
};
