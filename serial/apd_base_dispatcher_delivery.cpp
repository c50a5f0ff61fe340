// The dispatch passes, status and timer triggers, and the delivery of events to the handlers.
#include "serial/apd_base_dispatcher.h"

#include "runtime/message_box.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <type_traits>

namespace {

constexpr DWORD ModemEventMask = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_RING_TE;
constexpr DWORD LineEventMask = EV_BREAK | EV_ERR;
constexpr DWORD TickMs = 55;
constexpr DWORD HalfTickRange = 39045157; // half of the tick counter's range

} // namespace

void TApdBaseDispatcher::RunCommPass() {
    const DWORD mask = LastEventMask;
    auto clearFired = [this] {
        std::lock_guard lock(ControlLock);
        if (StatusHit) {
            ClearStatusFired();
            StatusHit = false;
        }
    };
    // Runs a check until it delivers nothing; false when a close was asked for meanwhile.
    auto repeat = [this](bool (TApdBaseDispatcher::*check)()) {
        while ((this->*check)())
            if (ClosePending)
                return false;
        return true;
    };

    if (mask & ModemEventMask) {
        RefreshModemStatusChanges();
        if (!Delivering && !repeat(&TApdBaseDispatcher::CheckStatusTriggers))
            return;
        clearFired();
    }
    if (mask & LineEventMask) {
        RefreshLineErrors();
        if (!Delivering && !repeat(&TApdBaseDispatcher::CheckStatusTriggers))
            return;
        clearFired();
    }
    FillReceiveBuffer();
    if (!Delivering) {
        bool delivered = false;
        const bool ran = RunWhereHandlersRun([&] {
            delivered = repeat(&TApdBaseDispatcher::CheckStatusTriggers) &&
                        repeat(&TApdBaseDispatcher::ScanReceiveTriggers);
        });
        // Not run (the handlers' thread was busy too long): the bytes stay unscanned in the
        // ring, and the dispatch thread's periodic pass hands them over later.
        if (ran && !delivered)
            return;
    }
    clearFired();
    if (ReadySignal)
        ReadySignal->Set();
}

bool TApdBaseDispatcher::RunWhereHandlersRun(const std::function<void()>& work) {
    HWND window = NullWindow;
    {
        std::lock_guard lock(ControlLock);
        // Procedures and methods that run on the dispatch thread keep running there.
        const bool workerHandlers =
            !HandlerProcs.empty() ||
            std::any_of(HandlerMethods.begin(), HandlerMethods.end(),
                        [](const auto& e) { return !e.Removed && !e.OnMainThread; });
        for (const auto& entry : HandlerWindows) {
            if (workerHandlers)
                break;
            if (!entry.Removed) {
                window = entry.Window;
                break;
            }
        }
    }
    // A flood brings many report lines per pass. Handing the whole pass to the windows' thread
    // at once costs one thread switch per pass, where a send per event would cost two per line;
    // the events themselves then reach the windows directly, in the same order.
    if (window != NullWindow && IsWindow(window))
        return SendWorkTimeout(window, work, SendTimeoutMs);
    work();
    return true;
}

void TApdBaseDispatcher::RunTimerPass() {
    if (ClosePending || Delivering)
        return;
    {
        std::lock_guard lock(ControlLock);
        StatusHit = false;
    }
    for (;;) {
        if (!CheckStatusTriggers() && !CheckTimerTriggers())
            break;
        if (ClosePending)
            break;
    }
    std::lock_guard lock(ControlLock);
    if (StatusHit) {
        ClearStatusFired();
        StatusHit = false;
    }
}

bool TApdBaseDispatcher::CheckStatusTriggers() {
    // Taken before ControlLock: OutputLock comes first in the lock order.
    const DWORD freeCount = OutputFree();
    const DWORD usedCount = OutputUsed();
    DWORD handle = 0;
    WORD value = 0;
    {
        std::lock_guard lock(ControlLock);
        auto fired = std::find_if(StatusTriggers.begin(), StatusTriggers.end(), [&](auto& s) {
            if (!s.Armed || s.Fired)
                return false;
            switch (s.Type) {
            case stModem:
                return (((ModemStatus & 0xFF) ^ (s.Value & 0xFF)) & (s.Value >> 8)) != 0;
            case stLine:
                if ((s.Value & LineErrors) == 0)
                    return false;
                s.Value = static_cast<WORD>(LineErrors);
                return true;
            case stOutFree:
                value = static_cast<WORD>(freeCount);
                return freeCount >= s.Value;
            case stOutUsed:
                value = static_cast<WORD>(usedCount);
                return usedCount <= s.Value;
            case stOutSent:
                if (!OutputSentFlag)
                    return false;
                OutputSentFlag = false;
                return true;
            default:
                return false;
            }
        });
        if (fired == StatusTriggers.end())
            return false;
        if (fired->Type != stOutFree && fired->Type != stOutUsed)
            value = 0;
        fired->Armed = false;
        fired->Fired = true;
        StatusHit = true;
        handle = fired->Handle;
        LogEvent(ltTrigger, lsStatus, handle);
    }
    return DeliverEvent(TriggerStatusMessage, handle, value);
}

bool TApdBaseDispatcher::CheckTimerTriggers() {
    DWORD handle = 0;
    {
        std::lock_guard lock(ControlLock);
        const DWORD now = TickCount() / TickMs;
        auto expired = std::find_if(TimerTriggers.begin(), TimerTriggers.end(), [now](auto& t) {
            return t.Armed && (now > t.ExpiryTick ||
                               (now < t.StartTick && now + HalfTickRange > t.ExpiryTick));
        });
        if (expired == TimerTriggers.end())
            return false;
        expired->Armed = false;
        handle = expired->Handle;
        LogEvent(ltTrigger, lsTimer, handle);
    }
    return DeliverEvent(TriggerTimerMessage, handle, 0);
}

void TApdBaseDispatcher::CallHandler(const DispatcherHandlerProc& handler, bool onMainThread,
                                     UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* app = QCoreApplication::instance();
    if (onMainThread && app && !IsMainThread()) {
        // The GUI thread keeps handling events while it waits for the worker threads, so a
        // blocking call cannot wait forever on a thread that waits for us.
        QMetaObject::invokeMethod(
            app, [&] { handler(msg, wParam, lParam); }, Qt::BlockingQueuedConnection);
    } else {
        handler(msg, wParam, lParam);
    }
}

bool TApdBaseDispatcher::DeliverEvent(UINT msg, WPARAM wParam, WORD lowWord) {
    bool serveWindows = false;
    {
        std::lock_guard lock(ControlLock);
        if (!DeliverEvents)
            return true;
        Delivering = true;
        serveWindows = HandlerWindows.size() > 1 || OwnerWantsEvents;
    }
    const bool readAhead = msg == TriggerAvailMessage || msg == TriggerDataMessage;
    {
        std::lock_guard lock(ReceiveLock);
        MaxReadAhead = 0;
        ReadAhead = readAhead;
    }
    const LPARAM lParam = static_cast<LPARAM>(DispatcherNumber) * 65536 + lowWord;

    // Each handler starts reading ahead from the tail; the largest take counts.
    auto beginHandler = [this] {
        std::lock_guard lock(ReceiveLock);
        ReadAheadCount = 0;
    };
    auto endHandler = [this] {
        std::lock_guard lock(ReceiveLock);
        MaxReadAhead = std::max(MaxReadAhead, static_cast<DWORD>(std::max(ReadAheadCount, 0)));
    };
    // Entries are read under ControlLock one at a time: a handler may add entries meanwhile,
    // and removed ones are only marked until the delivery ends.
    auto serve = [&](auto& entries, auto call) {
        for (std::size_t i = 0;; ++i) {
            typename std::remove_reference_t<decltype(entries)>::value_type entry;
            {
                std::lock_guard lock(ControlLock);
                if (i >= entries.size())
                    return true;
                entry = entries[i];
            }
            beginHandler();
            if (!entry.Removed)
                call(entry);
            if (ClosePending)
                return false;
            endHandler();
        }
    };

    bool completed =
        serve(HandlerMethods,
              [&](auto& e) { CallHandler(e.Method, e.OnMainThread, msg, wParam, lParam); }) &&
        serve(HandlerProcs, [&](auto& e) { e.Proc(msg, wParam, lParam); });
    if (completed && serveWindows)
        completed = serve(HandlerWindows, [&](auto& e) {
            SendMessageTimeout(e.Window, msg, wParam, lParam, SendTimeoutMs);
        });

    bool result = completed;
    {
        std::lock_guard lock(ReceiveLock);
        ReadAhead = false;
        if (completed && readAhead) {
            AdvanceTail(MaxReadAhead);
            if (msg == TriggerAvailMessage && MaxReadAhead != wParam)
                result = false;
        }
    }
    std::lock_guard lock(ControlLock);
    Delivering = false;
    if (RemovalPending) {
        RemoveMarkedHandlers();
        RemovalPending = false;
        UpdateHandlerService(0);
    }
    return result;
}

DWORD TApdBaseDispatcher::OutputUsed() {
    std::lock_guard lock(OutputLock);
    if (OutFull)
        return OutBufferSize;
    if (OutTail < OutHead)
        return OutHead - OutTail;
    if (OutHead < OutTail)
        return OutBufferSize + OutHead - OutTail;
    return 0;
}

DWORD TApdBaseDispatcher::OutputFree() {
    std::lock_guard lock(OutputLock);
    return OutBufferSize - OutputUsed();
}
