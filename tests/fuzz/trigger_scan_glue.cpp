#include "tests/fuzz/trigger_scan_glue.h"

#include "tests/fuzz/fuzz_target.h"

FuzzScanPort::FuzzScanPort()
    : window_([this](HWND, UINT msg, WPARAM w, LPARAM l) { return Handle(msg, w, l); }) {}

FuzzScanPort::~FuzzScanPort() {
    device_.DeregisterHandlerWindow(window_.Handle());
    device_.CloseComm();
}

FuzzScanPort& FuzzScanPort::Fresh() {
    static FuzzScanPort port;
    TestDevice& device = port.device_;
    if (device.DeviceHandle != INVALID_HANDLE_VALUE) {
        device.DeregisterHandlerWindow(port.window_.Handle());
        device.CloseComm();
    }
    FuzzExpect(device.OpenDefault() == 0, "the test device opens");
    device.SetAvailThreshold(1);
    device.RegisterHandlerWindow(port.window_.Handle());
    device.UpdateHandlerService(HandlerService::OwnerHasHandlers);
    port.Events.clear();
    port.Taken.clear();
    return port;
}

LRESULT FuzzScanPort::Handle(UINT msg, WPARAM w, LPARAM l) {
    if (dropping_)
        return 0;
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
    return 0;
}

bool FuzzScanPort::StartRingAt(std::size_t count) {
    if (count == 0)
        return true;
    // Taking them one by one through the window would cost more than the input's own bytes.
    dropping_ = true;
    device_.Feed(std::string(count, '\0'));
    for (int pass = 0; pass < 8 && device_.Pending() > 0; ++pass)
        device_.RunCommPass();
    dropping_ = false;
    device_.FlushReceive();
    return device_.Pending() == 0 && device_.UnreadCount() == 0;
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
