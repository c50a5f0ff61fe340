// Creation, open, close and release of a dispatcher.
#include "serial/apd_base_dispatcher.h"

#include "serial/dispatcher_registry.h"

#include <chrono>
#include <cstring>

TApdBaseDispatcher::TApdBaseDispatcher(TApdCustomComPort* owner) : Owner(owner) {
    DispatcherNumber = DispatcherRegistry::Add(this);
}

TApdBaseDispatcher::~TApdBaseDispatcher() {
    std::lock_guard lock(DispatcherRegistry::Lock());
    DispatcherRegistry::Remove(DispatcherNumber);
}

DWORD TApdBaseDispatcher::TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int TApdBaseDispatcher::OpenComm(const std::string& name, DWORD baud, int parity, int dataBits,
                                 int stopBits, DWORD inSize, DWORD outSize, DWORD options) {
    RingSeen = false;
    Delivering = false;
    {
        std::lock_guard lock(ControlLock);
        RemovalPending = false;
    }

    CommEventSignal = std::make_unique<Signal>(false);
    ReadySignal = std::make_unique<Signal>(false);
    AckSignal = std::make_unique<Signal>(false);
    OutputSignal = std::make_unique<Signal>(false);
    WriteDoneSignal = std::make_unique<Signal>(true);
    OutFlushSignal = std::make_unique<Signal>(false);

    const HANDLE handle = OpenDeviceHandle(name, inSize, outSize);
    if (handle < 0) {
        const int code =
            handle == ecOutOfMemory ? ecOutOfMemory : -static_cast<int>(LastDeviceError());
        CloseComm();
        CloseSignals();
        return code;
    }
    DeviceHandle = handle;

    if (const int code = ChangeQueueSizes(inSize, outSize); code < 0) {
        CloseComm();
        CloseSignals();
        return code;
    }

    {
        std::scoped_lock receive(ReceiveLock);
        std::scoped_lock output(OutputLock);
        std::scoped_lock control(ControlLock);
        ReceiveBuffer = std::make_unique<BYTE[]>(ReceiveBufferSize);
        OutBuffer = std::make_unique<BYTE[]>(outSize);
        OutHead = OutTail = 0;
        OutFull = false;
        InQueueSize = inSize;
        OutBufferSize = outSize;
        LineErrors = 0;
        OutputSentFlag = false;
        ClosePending = false;
        ReceiveFull = false;
        Rs485Mode = false;
        ReadAheadCount = 0;
        UartBase = 0;
        ReadComState(LineState);
    }

    DtrByFlow = (options & optDtrByFlow) != 0;
    if (!DtrByFlow)
        SetDtr((options & optDtrOn) != 0);
    RtsByFlow = (options & optRtsByFlow) != 0;
    if (!RtsByFlow)
        SetRts((options & optRtsOn) != 0);

    {
        std::scoped_lock receive(ReceiveLock);
        std::scoped_lock control(ControlLock);
        ClearTriggers();
        ScanPos = ReceiveHead = ReceiveTail = AvailNotifyPos = Unscanned = 0;
        AvailNotifyFull = false;
        ClearStatusFired();
        ReadAhead = false;
        ModemStatus = 0;
        RefreshModemStatus(0xF0);
        LastBaud = 115200;
    }

    if (const int code = SetLineParams(baud, parity, dataBits, stopBits); code < 0) {
        CloseComm();
        CloseSignals();
        return code;
    }

    RefreshLineErrors();
    {
        std::lock_guard lock(ControlLock);
        TraceOn = false;
        Trace.Free();
        TimeBase = TickCount();
        LogOn = false;
        Log.Free();
    }
    StartThreads();
    return 0;
}

void TApdBaseDispatcher::CloseSignals() {
    for (auto* signal : {&CommEventSignal, &ReadySignal, &AckSignal, &OutputSignal,
                         &WriteDoneSignal, &OutFlushSignal})
        signal->reset();
}

void TApdBaseDispatcher::CloseComm() {
    if (DeviceHandle >= 0) {
        FlushTransmit();
        FlushReceive();
        CloseDeviceHandle();
    }
    {
        std::lock_guard lock(ControlLock);
        if (Delivering) {
            // Asked for from inside an event handler: the dispatch thread finishes the release
            // when it leaves its loop.
            ClosePending = true;
            return;
        }
    }
    ReleaseResources();
}

void TApdBaseDispatcher::CloseForDestroy() {
    if (ClosePending)
        ReleaseResources();
    else
        CloseComm();
}

void TApdBaseDispatcher::ReleaseResources() {
    // The threads are stopped without any lock held: a dispatch pass that is still running
    // needs the locks to finish.
    if (ThreadsActive)
        StopThreads();
    std::scoped_lock receive(ReceiveLock);
    std::scoped_lock output(OutputLock);
    std::scoped_lock control(ControlLock);
    OutBuffer.reset();
    ReceiveBuffer.reset();
}

void TApdBaseDispatcher::ThreadFinished(DispatcherThreadKind kind) {
    switch (kind) {
    case DispatcherThreadKind::Comm:
        ComThread = nullptr;
        break;
    case DispatcherThreadKind::Output:
        OutThread = nullptr;
        break;
    case DispatcherThreadKind::Dispatch:
        DispThread = nullptr;
        if (TeardownOnExit) {
            ReleaseResources();
            TeardownOnExit = false;
        }
        break;
    }
    if (--RunningThreads == 0)
        ThreadsActive = false;
}

// --- handlers ----------------------------------------------------------------------------------

void TApdBaseDispatcher::RegisterHandlerWindow(HWND window) {
    std::lock_guard lock(ControlLock);
    HandlerWindows.push_back({window, false});
    DeliverEvents = true;
}

void TApdBaseDispatcher::DeregisterHandlerWindow(HWND window) {
    std::lock_guard lock(ControlLock);
    for (auto it = HandlerWindows.begin(); it != HandlerWindows.end(); ++it) {
        if (it->Window != window || it->Removed)
            continue;
        if (Delivering) {
            it->Removed = true;
            RemovalPending = true;
        } else {
            HandlerWindows.erase(it);
        }
        return;
    }
}

int TApdBaseDispatcher::RegisterHandlerProc(DispatcherHandlerProc proc) {
    std::lock_guard lock(ControlLock);
    const int id = nextHandlerId_++;
    HandlerProcs.push_back({id, std::move(proc), false});
    DeliverEvents = true;
    return id;
}

int TApdBaseDispatcher::RegisterHandlerMethod(DispatcherHandlerProc method, bool onMainThread) {
    std::lock_guard lock(ControlLock);
    const int id = nextHandlerId_++;
    HandlerMethods.push_back({id, std::move(method), false, onMainThread});
    DeliverEvents = true;
    return id;
}

namespace {

template <typename Entries>
void RemoveEntry(Entries& entries, int id, bool delivering, bool& pending) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->Id != id || it->Removed)
            continue;
        if (delivering) {
            it->Removed = true;
            pending = true;
        } else {
            entries.erase(it);
        }
        return;
    }
}

} // namespace

void TApdBaseDispatcher::DeregisterHandlerProc(int id) {
    std::lock_guard lock(ControlLock);
    RemoveEntry(HandlerProcs, id, Delivering, RemovalPending);
}

void TApdBaseDispatcher::DeregisterHandlerMethod(int id) {
    std::lock_guard lock(ControlLock);
    RemoveEntry(HandlerMethods, id, Delivering, RemovalPending);
}

void TApdBaseDispatcher::UpdateHandlerService(int kind) {
    std::lock_guard lock(ControlLock);
    const bool others =
        HandlerWindows.size() > 1 || !HandlerProcs.empty() || !HandlerMethods.empty();
    switch (kind) {
    case 0:
        DeliverEvents = others || OwnerWantsEvents;
        break;
    case 1:
        OwnerWantsEvents = true;
        DeliverEvents = true;
        break;
    case 2:
        OwnerWantsEvents = false;
        DeliverEvents = others;
        break;
    default:
        break;
    }
}

void TApdBaseDispatcher::RemoveMarkedHandlers() {
    auto sweep = [](auto& entries) {
        std::erase_if(entries, [](const auto& e) { return e.Removed; });
    };
    sweep(HandlerWindows);
    sweep(HandlerProcs);
    sweep(HandlerMethods);
}
