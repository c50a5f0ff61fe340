// The worker threads of a COM port's dispatcher: starting and stopping them, their bodies, and
// the output path they drive.
#include "serial/apd_win32_dispatcher.h"

#include "runtime/after_pass.h"
#include "runtime/message_box.h"
#include "serial/platform/message_window.h"
#include "serial/platform/signal.h"
#include "serial/platform/system_error.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <pthread.h>
#include <stdexcept>
#include <string>

namespace {

// The platform identifier this layer reports is that of the NT family: its drivers do not know
// the ring trailing-edge event, so the comm thread starts without it.
constexpr bool PlatformIsNtFamily = true;

constexpr int DispatchPeriodMs = 50;
// How often a waiting comm thread looks again while the receive ring has no room, and how long
// it pauses after a wait that failed at once: level-triggered events would otherwise hand the
// same waiting bytes over and over.
constexpr auto RoomPollInterval = std::chrono::milliseconds(20);
constexpr auto FailedWaitPause = std::chrono::milliseconds(10);
constexpr auto StopPollInterval = std::chrono::microseconds(200);
// How long a stop waits for a comm thread that writes a report file before it gives it up.
constexpr auto AwayPatience = std::chrono::seconds(2);

// The dispatcher whose worker thread this is; null on any other thread.
thread_local const TApdWin32Dispatcher* WorkerOf = nullptr;

// Waits until done() holds, pumping the GUI thread's messages meanwhile when called there: a
// worker thread may be sending an event to a window of that thread.
template <typename Done> void WaitPumping(Done done) {
    const bool pump = IsMainThread();
    while (!done()) {
        if (pump)
            ProcessOneMessage();
        std::this_thread::sleep_for(StopPollInterval);
    }
}

// Shows an exception that ended a worker thread with the application's standard report, on the
// GUI thread: the thread itself cannot show a window.
void ReportThreadException(const std::string& text) {
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app, [text] { ShowException(std::runtime_error(text)); }, Qt::QueuedConnection);
}

} // namespace

// --- the thread objects -------------------------------------------------------------------------

TApdDispatcherThread::TApdDispatcherThread(TApdWin32Dispatcher& dispatcher,
                                           DispatcherThreadKind kind)
    : Dispatcher(dispatcher), kind_(kind) {}

TApdDispatcherThread::~TApdDispatcherThread() {
    Join();
}

void TApdDispatcherThread::Start() {
    thread_ = std::thread([this] { Run(); });
}

void TApdDispatcherThread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

bool TApdDispatcherThread::GiveUp() {
    std::lock_guard lock(awayLock_);
    if (away_ != Place::AwayFromPort)
        return false;
    away_ = Place::GivenUp;
    thread_.detach();
    return true;
}

bool TApdDispatcherThread::RunAway(std::vector<std::function<void()>>& work) {
    auto& d = Dispatcher;
    {
        std::lock_guard lock(awayLock_);
        away_ = Place::AwayFromPort;
    }
    d.commAway_ = true;
    d.commStall_.Begin();
    for (std::function<void()>& item : work) {
        try {
            item();
        } catch (...) {
        }
    }
    {
        // Given up meanwhile, this thread's dispatcher may be gone.
        std::lock_guard lock(awayLock_);
        if (away_ == Place::GivenUp)
            return false;
        away_ = Place::AtPort;
    }
    d.commStall_.End();
    d.commAway_ = false;
    d.rescue_ = false;
    return true;
}

void TApdDispatcherThread::Run() {
    WorkerOf = &Dispatcher;
    // Named for top -H and the benchmarks' split of the time by thread.
    static constexpr const char* Kinds[] = {"comm", "dispatch", "output"};
    const std::string name = std::string(Kinds[static_cast<int>(kind_)]) + " " +
                             std::to_string(Dispatcher.DispatcherNumber);
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
    try {
        Execute();
        bool givenUp = false;
        {
            std::lock_guard lock(awayLock_);
            givenUp = away_ == Place::GivenUp;
        }
        if (givenUp) {
            delete this; // nobody else holds it any more
            return;
        }
    } catch (const std::exception& error) {
        ReportThreadException(error.what());
    } catch (...) {
        ReportThreadException("Unknown exception in a serial port thread");
    }
    // However the dispatch thread ends, it releases the dispatcher's resources on its way out.
    if (kind_ == DispatcherThreadKind::Dispatch)
        Dispatcher.SetTeardownOnExit();
    Dispatcher.ThreadFinished(kind_);
}

TComThread::TComThread(TApdWin32Dispatcher& dispatcher)
    : TApdDispatcherThread(dispatcher, DispatcherThreadKind::Comm) {}

TDispThread::TDispThread(TApdWin32Dispatcher& dispatcher)
    : TApdDispatcherThread(dispatcher, DispatcherThreadKind::Dispatch) {}

TOutThread::TOutThread(TApdWin32Dispatcher& dispatcher)
    : TApdDispatcherThread(dispatcher, DispatcherThreadKind::Output) {}

// --- the bodies ---------------------------------------------------------------------------------

void TComThread::Execute() {
    auto& d = Dispatcher;
    Signal waitSignal(true);
    OverlappedBlock block;
    block.Overlapped.hEvent = &waitSignal;
    DWORD mask = PlatformIsNtFamily ? TApdWin32Dispatcher::NtEventMask
                                    : TApdWin32Dispatcher::RingTrailingEdgeMask;
    SetCommMask(d.Handle(), mask);
    // Reads return at once with whatever the driver holds; writes never time out.
    const COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(d.Handle(), &timeouts);
    d.Acknowledge();

    DWORD events = 0; // outlives every wait that reports into it
    do {
        if (!d.WaitLineEvent(events, &block)) {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                DWORD count = 0;
                if (!GetOverlappedResult(d.Handle(), &block.Overlapped, &count, true)) {
                    // The device was closed or went away. One more pass takes whatever it
                    // delivered before it went.
                    if (GetLastError() != ERROR_OPERATION_ABORTED && !d.StopRequested())
                        d.NoteDeviceLost();
                    d.WakeDispatch();
                    d.Acknowledge();
                    return;
                }
                d.NoteLineEvents(events);
                if (events & (EV_RING_TE | EV_RING))
                    d.NoteRing();
                waitSignal.Reset();
            } else if (error == ERROR_INVALID_PARAMETER && (mask & EV_RING_TE)) {
                // The driver does not know the trailing-edge event.
                mask = TApdWin32Dispatcher::NtEventMask;
                SetCommMask(d.Handle(), mask);
            } else if (error == ERROR_DEVICE_NOT_CONNECTED) {
                // Gone before the wait began: the same last pass as above.
                d.NoteDeviceLost();
                d.WakeDispatch();
                d.Acknowledge();
                return;
            } else {
                std::this_thread::sleep_for(FailedWaitPause);
            }
        } else {
            d.NoteLineEvents(events);
        }
        if (d.StopRequested()) {
            d.Acknowledge();
            return;
        }
        // The pass runs here, where the event arrived: handing it to the dispatch thread and
        // waiting for it to finish cost two thread switches for every report line. The report
        // lines it completed are written after it, with the pass's lock free for the dispatch
        // thread to read the port should a file stall.
        {
            AfterPass after;
            d.RunPasses();
            std::vector<std::function<void()>> work = after.Take();
            if (!work.empty() && !RunAway(work))
                return;
        }
        if (d.StopRequested() || d.ClosePending()) {
            d.WakeDispatch(); // it ends, and a close asked for in a handler is finished there
            d.Acknowledge();
            return;
        }
        // The dispatch thread sleeps while nothing needs time to pass; the pass may have
        // changed that (bytes the handlers' thread could not take, a timer armed).
        if (d.NeedsPeriodicPass())
            d.WakeDispatch();
        // While the ring is full the waiting bytes stay in the driver and would wake the next
        // wait at once; the dispatch thread's passes pick them up as room appears.
        while (!d.StopRequested() && d.ReceiveRingFull())
            waitSignal.Wait(static_cast<int>(RoomPollInterval.count()));
    } while (!d.StopRequested());
    d.Acknowledge();
}

void TDispThread::Execute() {
    auto& d = Dispatcher;
    d.Acknowledge();
    do {
        // The comm thread runs the pass of each comm event itself. This thread runs the passes
        // that something else asks for (a trigger added, the device's last bytes once it went),
        // and one every 50 ms while something waits for time to pass (see NeedsPeriodicPass);
        // otherwise it sleeps.
        d.WaitForCommEvent(d.NeedsPeriodicPass() ? DispatchPeriodMs : Signal::Infinite);
        if (d.StopRequested())
            return;
        d.RunPasses();
    } while (!d.StopRequested() && !d.ClosePending());
    d.Acknowledge();
}

void TOutThread::Execute() {
    auto& d = Dispatcher;
    OverlappedBlock block = d.WriteBlock();
    d.Acknowledge();
    do {
        if (d.WaitForOutputOrFlush()) {
            if (d.StopRequested())
                return;
            d.DrainOutput(block);
        } else {
            d.Acknowledge(); // a flush was seen
        }
    } while (!d.StopRequested() && !d.ClosePending());
}

// --- starting and stopping ----------------------------------------------------------------------

void TApdWin32Dispatcher::StartThreads() {
    std::lock_guard lock(threadLock_);
    if (ThreadsActive())
        throw std::runtime_error("Dispatcher already started");
    JoinEndedThreads();
    comObject_ = std::make_unique<TComThread>(*this);
    dispObject_ = std::make_unique<TDispThread>(*this);
    outObject_ = std::make_unique<TOutThread>(*this);
    // All three are counted in before the first starts: one that ends at once (its device gone)
    // must not make the set look finished while the others have yet to start.
    CountThreadsIn(3);
    const struct {
        std::unique_ptr<TApdDispatcherThread>& Thread;
        std::atomic<TApdDispatcherThread*>& Reference;
    } order[] = {{comObject_, ThreadReference(DispatcherThreadKind::Comm)},
                 {dispObject_, ThreadReference(DispatcherThreadKind::Dispatch)},
                 {outObject_, ThreadReference(DispatcherThreadKind::Output)}};
    int started = 0;
    try {
        for (const auto& t : order) {
            t.Reference = t.Thread.get();
            t.Thread->Start();
            ++started;
            Signals()->AckSignal->Wait(StartAckTimeoutMs); // a thread slow to start is no error
        }
    } catch (...) {
        // The threads never started are counted out again.
        order[started].Reference = nullptr;
        CountThreadsOut(3 - started);
        throw;
    }
}

void TApdWin32Dispatcher::StopThreads() {
    {
        std::lock_guard lock(threadLock_);
        if (!ThreadsActive())
            return;
        RequestStop();
        ThreadSignals& waits = *Signals();
        if (ThreadRunning(DispatcherThreadKind::Output)) {
            waits.OutFlushSignal->Set();
            WaitForThreadEnd(ThreadReference(DispatcherThreadKind::Output));
        }
        if (ThreadRunning(DispatcherThreadKind::Comm)) {
            SetCommMask(handle_, 0);
            waits.AckSignal->Reset();
            GiveUpStalledCommThread();
        }
        // Wakes the dispatch thread, which may be waiting for the next comm event.
        waits.CommEventSignal->Set();
        WaitForThreadEnd(ThreadReference(DispatcherThreadKind::Dispatch));
        // The signals stay until the dispatcher goes or opens again: a caller on another thread
        // may still be about to set one.
    }
    // The dispatch thread releases the resources after clearing its reference, and needs the
    // lock above for that; the caller gets the threads all finished, unless it is one of them.
    if (WorkerOf != this)
        WaitPumping([this] { return !ThreadsActive(); });
}

void TApdWin32Dispatcher::GiveUpStalledCommThread() {
    std::atomic<TApdDispatcherThread*>& reference = ThreadReference(DispatcherThreadKind::Comm);
    // A write that never ends (a share whose server went away) must not keep the port open: the
    // thread keeps its report lines, which their writer still counts as unwritten.
    WaitPumping([&] {
        if (reference.load() == nullptr)
            return true;
        if (!commAway_ || commStall_.Running() < AwayPatience || !comObject_->GiveUp())
            return false;
        (void)comObject_.release(); // the thread's own now
        commStall_.End();
        commAway_ = false;
        rescue_ = false;
        ThreadFinished(DispatcherThreadKind::Comm);
        return true;
    });
}

void TApdWin32Dispatcher::WaitForThreadEnd(const std::atomic<TApdDispatcherThread*>& reference) {
    WaitPumping([&reference] { return reference.load() == nullptr; });
}

void TApdWin32Dispatcher::JoinEndedThreads() {
    for (auto* thread : {&comObject_, &dispObject_, &outObject_}) {
        if (*thread)
            (*thread)->Join();
    }
}

bool TApdWin32Dispatcher::NeedsPeriodicPass() {
    // Bytes a pass could not hand over (the handlers' thread was busy) are scanned again. A full
    // ring needs no pass of ours: the comm thread watches for room, and the bytes waiting in the
    // driver then raise a comm event. While the comm thread's report file stalls, nobody else
    // reads the port.
    return HasUnscanned() || TriggersArmed() || (rescue_ && commAway_);
}

// --- the output path ----------------------------------------------------------------------------

void TApdWin32Dispatcher::DrainOutput(OverlappedBlock& block) {
    for (;;) {
        const OutputRing::Run run = output_.Lock()->NextRun();
        if (run.Count == 0)
            return;
        const DWORD count = run.Count;
        const HANDLE handle = handle_;
        DWORD written = 0;
        if (WriteFile(handle, run.Bytes, count, &written, &block.Overlapped)) {
            AdvanceOutput(written);
        } else if (GetLastError() == ERROR_IO_PENDING) {
            for (;;) {
                ThreadSignals& waits = *Signals();
                if (Signal::WaitAny(*waits.WriteDoneSignal, *waits.OutFlushSignal,
                                    Signal::Infinite) == 1) {
                    waits.AckSignal->Set(); // a flush abandons the write
                    return;
                }
                // Reset before the look, so a completion after it sets the signal again.
                waits.WriteDoneSignal->Reset();
                if (GetOverlappedResult(handle, &block.Overlapped, &written, false)) {
                    AdvanceOutput(written);
                    break;
                }
                if (GetLastError() == ERROR_IO_INCOMPLETE)
                    continue;
                AdvanceOutput(count); // the write failed: its bytes are dropped
                break;
            }
        } else {
            AdvanceOutput(count);
        }
    }
}

void TApdWin32Dispatcher::AdvanceOutput(DWORD count) {
    output_.Lock()->Advance(count);
}

// --- the bodies' signals ------------------------------------------------------------------------

OverlappedBlock TApdWin32Dispatcher::WriteBlock() {
    OverlappedBlock block;
    block.Overlapped.hEvent = Signals()->WriteDoneSignal.get();
    return block;
}

void TApdWin32Dispatcher::Acknowledge() {
    Signals()->AckSignal->Set();
}

void TApdWin32Dispatcher::WaitForCommEvent(int timeoutMs) {
    Signals()->CommEventSignal->Wait(timeoutMs);
}

void TApdWin32Dispatcher::RunPasses() {
    // One pass at a time, whichever thread runs it: the handlers see their events in order.
    std::lock_guard lock(passLock_);
    if (ClosePending())
        return;
    RunCommPass();
    RunTimerPass();
    // Told only once every byte the device gave was handed over: the port is then closed.
    if (DeviceLost() && !HasUnscanned())
        PostDeviceLost();
}

bool TApdWin32Dispatcher::WaitForOutputOrFlush() {
    ThreadSignals& waits = *Signals();
    return Signal::WaitAny(*waits.OutputSignal, *waits.OutFlushSignal, Signal::Infinite) == 0;
}
