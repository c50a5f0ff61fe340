// The dispatch passes, status and timer triggers, and the delivery of events to the handlers.
#include "serial/apd_base_dispatcher.h"

#include "runtime/message_box.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <optional>

namespace {

constexpr DWORD ModemEventMask = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_RING_TE;
constexpr DWORD LineEventMask = EV_BREAK | EV_ERR;
constexpr DWORD TickMs = 55;

} // namespace

void TApdBaseDispatcher::RunCommPass() {
    const DWORD mask = lastEventMask_;
    auto clearFired = [this] { triggers_.Lock()->ClearFiredIfHit(); };
    // Runs a check until it delivers nothing; false when a close was asked for meanwhile.
    auto repeat = [this](bool (TApdBaseDispatcher::*check)()) {
        while ((this->*check)())
            if (closePending_)
                return false;
        return true;
    };

    if (mask & ModemEventMask) {
        RefreshModemStatusChanges();
        if (!delivering_ && !repeat(&TApdBaseDispatcher::CheckStatusTriggers))
            return;
        clearFired();
    }
    if (mask & LineEventMask) {
        RefreshLineErrors();
        if (!delivering_ && !repeat(&TApdBaseDispatcher::CheckStatusTriggers))
            return;
        clearFired();
    }
    FillReceiveBuffer();
    if (!delivering_) {
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
}

bool TApdBaseDispatcher::RunWhereHandlersRun(const std::function<void()>& work) {
    const HWND window = handlers_.Lock()->PassWindow();
    // A flood brings many report lines per pass. Handing the whole pass to the windows' thread
    // at once costs one thread switch per pass, where a send per event would cost two per line;
    // the events themselves then reach the windows directly, in the same order.
    if (window != NullWindow && IsWindow(window))
        return SendWorkTimeout(window, work, SendTimeoutMs);
    work();
    return true;
}

void TApdBaseDispatcher::PostDeviceLost() {
    if (!deviceLost_ || deviceLostPosted_)
        return;
    deviceLostPosted_ = true;
    // To the component's window even while the passes run on this thread.
    const HWND window = handlers_.Lock()->OwnerWindow();
    if (window != NullWindow)
        PostMessage(window, DeviceLostMessage, 0, static_cast<LPARAM>(DispatcherNumber) * 65536);
}

void TApdBaseDispatcher::RunTimerPass() {
    if (closePending_ || delivering_)
        return;
    triggers_.Lock()->ResetStatusHit();
    for (;;) {
        if (!CheckStatusTriggers() && !CheckTimerTriggers())
            break;
        if (closePending_)
            break;
    }
    triggers_.Lock()->ClearFiredIfHit();
}

bool TApdBaseDispatcher::CheckStatusTriggers() {
    // Taken before ControlLock: OutputLock comes first in the lock order.
    const DWORD freeCount = OutputFree();
    const DWORD usedCount = OutputUsed();
    std::optional<TriggerTable::Fired> fired;
    {
        auto triggers = triggers_.Lock();
        auto line = line_.Lock();
        fired = triggers->FireStatus(
            {line->ModemStatus, line->LineErrors, freeCount, usedCount, OutputSentFlag});
        if (!fired)
            return false;
        LogEvent(ltTrigger, lsStatus, fired->Handle);
    }
    return DeliverEvent(TriggerStatusMessage, fired->Handle, fired->Value);
}

bool TApdBaseDispatcher::CheckTimerTriggers() {
    std::optional<DWORD> handle;
    {
        auto triggers = triggers_.Lock();
        handle = triggers->FireTimer(TickCount() / TickMs);
        if (!handle)
            return false;
        LogEvent(ltTrigger, lsTimer, *handle);
    }
    return DeliverEvent(TriggerTimerMessage, *handle, 0);
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
    if (!BeginDelivery(msg, serveWindows))
        return true;
    const LPARAM lParam = static_cast<LPARAM>(DispatcherNumber) * 65536 + lowWord;
    const bool completed = ServeHandlers(msg, wParam, lParam, serveWindows);
    return EndDelivery(msg, wParam, completed);
}

bool TApdBaseDispatcher::BeginDelivery(UINT msg, bool& serveWindows) {
    {
        auto handlers = handlers_.Lock();
        if (!handlers->DeliverEvents())
            return false;
        delivering_ = true;
        serveWindows = handlers->ServeWindows();
    }
    receive_.Lock()->BeginDelivery(msg == TriggerAvailMessage || msg == TriggerDataMessage);
    return true;
}

bool TApdBaseDispatcher::ServeHandlers(UINT msg, WPARAM wParam, LPARAM lParam, bool serveWindows) {
    if (!ServeEach(&HandlerList::Methods, [&](const HandlerMethodEntry& e) {
            CallHandler(e.Method, e.OnMainThread, msg, wParam, lParam);
        }))
        return false;
    if (!ServeEach(&HandlerList::Procs,
                   [&](const HandlerProcEntry& e) { e.Proc(msg, wParam, lParam); }))
        return false;
    return !serveWindows || ServeEach(&HandlerList::Windows, [&](const HandlerWindowEntry& e) {
        SendMessageTimeout(e.Window, msg, wParam, lParam, SendTimeoutMs);
    });
}

template <typename Entry, typename Call>
bool TApdBaseDispatcher::ServeEach(const std::vector<Entry>& (HandlerList::*entries)() const,
                                   Call call) {
    // Entries are read under ControlLock one at a time: a handler may add entries meanwhile,
    // and removed ones are only marked until the delivery ends. Each handler starts reading
    // ahead from the tail; the largest take counts.
    for (std::size_t i = 0;; ++i) {
        Entry entry;
        {
            auto handlers = handlers_.Lock();
            const auto& list = ((*handlers).*entries)();
            if (i >= list.size())
                return true;
            entry = list[i];
        }
        receive_.Lock()->BeginHandler();
        if (!entry.Removed)
            call(entry);
        if (closePending_)
            return false;
        receive_.Lock()->EndHandler();
    }
}

bool TApdBaseDispatcher::EndDelivery(UINT msg, WPARAM wParam, bool completed) {
    bool result = completed;
    {
        const bool readAhead = msg == TriggerAvailMessage || msg == TriggerDataMessage;
        const DWORD taken = receive_.Lock()->EndDelivery(completed && readAhead);
        if (completed && msg == TriggerAvailMessage && taken != wParam)
            result = false;
    }
    auto handlers = handlers_.Lock();
    delivering_ = false;
    handlers->SweepRemoved();
    return result;
}
