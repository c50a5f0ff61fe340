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
    if (const int code =
            OpenSteps(name, baud, parity, dataBits, stopBits, inSize, outSize, options);
        code < 0) {
        CloseComm();
        CloseSignals();
        return code;
    }
    StartThreads();
    return 0;
}

int TApdBaseDispatcher::OpenSteps(const std::string& name, DWORD baud, int parity, int dataBits,
                                  int stopBits, DWORD inSize, DWORD outSize, DWORD options) {
    ringSeen_ = false;
    delivering_ = false;
    handlers_.Lock()->ResetRemovalPending();
    CreateSignals();

    const HANDLE handle = OpenDeviceHandle(name, inSize, outSize);
    if (handle < 0)
        return handle == ecOutOfMemory ? ecOutOfMemory : -static_cast<int>(LastDeviceError());
    DeviceHandle = handle;
    if (const int code = ChangeQueueSizes(inSize, outSize); code < 0)
        return code;
    ResetForOpen(inSize, outSize, options);
    if (const int code = SetLineParams(baud, parity, dataBits, stopBits); code < 0)
        return code;

    RefreshLineErrors();
    std::lock_guard lock(ControlLock);
    TraceOn = false;
    Trace.Free();
    TimeBase = TickCount();
    LogOn = false;
    Log.Free();
    return 0;
}

void TApdBaseDispatcher::ResetForOpen(DWORD inSize, DWORD outSize, DWORD options) {
    {
        auto ring = receive_.Lock();
        auto output = output_.Lock();
        auto triggers = triggers_.Lock();
        auto line = line_.Lock();
        ring->Allocate();
        output->Allocate(outSize);
        InQueueSize = inSize;
        line->LineErrors = 0;
        OutputSentFlag = false;
        closePending_ = false;
        Rs485Mode = false;
        UartBase = 0;
        ReadComState(LineState);
        triggers->Clear();
        line->ModemStatus = 0;
        RefreshModemStatus(0xF0);
        LastBaud = 115200;
    }
    const bool dtrByFlow = (options & optDtrByFlow) != 0;
    drive_.Lock()->DtrByFlow = dtrByFlow;
    if (!dtrByFlow)
        SetDtr((options & optDtrOn) != 0);
    const bool rtsByFlow = (options & optRtsByFlow) != 0;
    drive_.Lock()->RtsByFlow = rtsByFlow;
    if (!rtsByFlow)
        SetRts((options & optRtsOn) != 0);
}

void TApdBaseDispatcher::CreateSignals() {
    signals_ = std::make_unique<ThreadSignals>();
}

void TApdBaseDispatcher::CloseSignals() {
    signals_.reset();
}

void TApdBaseDispatcher::WakeDispatch() {
    if (signals_)
        signals_->CommEventSignal->Set();
}

void TApdBaseDispatcher::CloseComm() {
    if (DeviceHandle >= 0) {
        FlushTransmit();
        // What the device received and nobody read yet is left to it: whoever opens the port
        // next (this program resumed) reads it, instead of a stop throwing report lines away.
        DropReceived();
        CloseDeviceHandle();
    }
    {
        auto handlers = handlers_.Lock();
        if (delivering_) {
            // Asked for from inside an event handler: the dispatch thread finishes the release
            // when it leaves its loop.
            closePending_ = true;
            return;
        }
    }
    ReleaseResources();
}

void TApdBaseDispatcher::CloseForDestroy() {
    if (closePending_)
        ReleaseResources();
    else
        CloseComm();
}

void TApdBaseDispatcher::ReleaseResources() {
    // The threads are stopped without any lock held: a dispatch pass that is still running
    // needs the locks to finish.
    if (threadsActive_)
        StopThreads();
    auto ring = receive_.Lock();
    auto output = output_.Lock();
    std::scoped_lock control(ControlLock);
    output->Release();
    ring->Release();
}

std::atomic<TApdDispatcherThread*>& TApdBaseDispatcher::ThreadReference(DispatcherThreadKind kind) {
    switch (kind) {
    case DispatcherThreadKind::Comm:
        return comThread_;
    case DispatcherThreadKind::Dispatch:
        return dispThread_;
    case DispatcherThreadKind::Output:
        break;
    }
    return outThread_;
}

bool TApdBaseDispatcher::ThreadRunning(DispatcherThreadKind kind) {
    return ThreadReference(kind).load() != nullptr;
}

void TApdBaseDispatcher::CountThreadsIn(int count) {
    threadsActive_ = true;
    stopRequested_ = false;
    teardownOnExit_ = false;
    runningThreads_ = count;
}

void TApdBaseDispatcher::CountThreadsOut(int count) {
    if ((runningThreads_ -= count) == 0)
        threadsActive_ = false;
}

void TApdBaseDispatcher::CountInDispatchThreadForTest() {
    threadsActive_ = true;
    runningThreads_ = 1;
}

void TApdBaseDispatcher::ThreadFinished(DispatcherThreadKind kind) {
    ThreadReference(kind) = nullptr;
    if (kind == DispatcherThreadKind::Dispatch && teardownOnExit_) {
        ReleaseResources();
        teardownOnExit_ = false;
    }
    CountThreadsOut(1);
}

// --- handlers ----------------------------------------------------------------------------------

void TApdBaseDispatcher::RegisterHandlerWindow(HWND window) {
    handlers_.Lock()->AddWindow(window);
}

void TApdBaseDispatcher::DeregisterHandlerWindow(HWND window) {
    auto handlers = handlers_.Lock();
    handlers->RemoveWindow(window, delivering_);
}

int TApdBaseDispatcher::RegisterHandlerProc(DispatcherHandlerProc proc) {
    return handlers_.Lock()->AddProc(std::move(proc));
}

int TApdBaseDispatcher::RegisterHandlerMethod(DispatcherHandlerProc method, bool onMainThread) {
    return handlers_.Lock()->AddMethod(std::move(method), onMainThread);
}

void TApdBaseDispatcher::DeregisterHandlerProc(int id) {
    auto handlers = handlers_.Lock();
    handlers->RemoveProc(id, delivering_);
}

void TApdBaseDispatcher::DeregisterHandlerMethod(int id) {
    auto handlers = handlers_.Lock();
    handlers->RemoveMethod(id, delivering_);
}

void TApdBaseDispatcher::UpdateHandlerService(HandlerService service) {
    handlers_.Lock()->Update(service);
}
