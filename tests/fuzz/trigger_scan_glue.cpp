#include "tests/fuzz/trigger_scan_glue.h"

#include "tests/fuzz/fuzz_target.h"

namespace {

TestDevice& Device() {
    static TestDevice device;
    return device;
}

} // namespace

FuzzScanPort::FuzzScanPort() : device_(Device()) {
    FuzzExpect(device_.OpenDefault() == 0, "the test device opens");
    device_.SetAvailThreshold(1);
    window_ = std::make_unique<MessageWindow>([this](HWND, UINT msg, WPARAM w, LPARAM l) {
        const bool isData = msg == TriggerDataMessage;
        FuzzExpect(isData || msg == TriggerAvailMessage, "only trigger events are delivered");
        Events.push_back({isData, w, static_cast<WORD>(l & 0xFFFF), Taken.size()});
        if (!isData) {
            BYTE c = 0;
            for (WPARAM i = 0; i < w; ++i) {
                FuzzExpect(device_.GetChar(c) == 0, "every byte offered can be taken");
                Taken += static_cast<char>(c);
            }
        }
        return LRESULT{0};
    });
    device_.RegisterHandlerWindow(window_->Handle());
    device_.UpdateHandlerService(HandlerService::OwnerHasHandlers);
}

FuzzScanPort::~FuzzScanPort() {
    device_.DeregisterHandlerWindow(window_->Handle());
    device_.CloseComm();
}

int FuzzScanPort::AddTrigger(const std::string& pattern, bool ignoreCase) {
    return device_.AddDataTrigger(reinterpret_cast<const BYTE*>(pattern.data()),
                                  static_cast<DWORD>(pattern.size()), ignoreCase);
}

void FuzzScanPort::Receive(const std::string& bytes) {
    device_.Feed(bytes);
}

bool FuzzScanPort::DeliverAll() {
    // One pass reads at most the free part of the ring; every pass with bytes waiting frees it
    // again, so a handful of passes per chunk is all it can take.
    for (int pass = 0; pass < 64; ++pass) {
        device_.RunCommPass();
        if (device_.Pending() == 0 && device_.UnreadCount() == 0)
            return true;
    }
    return false;
}
