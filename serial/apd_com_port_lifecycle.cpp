// Opening and closing the port, the port window and the routing of the dispatcher's messages.
#include "serial/apd_com_port.h"

#include "runtime/message_box.h"
#include "runtime/windows_error.h"
#include "serial/apd_exceptions.h"
#include "serial/apd_win32_dispatcher.h"
#include "serial/check_exception.h"
#include "serial/com_select_form.h"
#include "serial/dispatcher_registry.h"

#include <QCoreApplication>
#include <QDialog>
#include <QMetaObject>
#include <QTimer>
#include <exception>

namespace {

// What the dispatcher's open returns: a negated Windows error.
constexpr int ecAccessDenied = -static_cast<int>(ERROR_ACCESS_DENIED);
constexpr int ecFileNotFound = -static_cast<int>(ERROR_FILE_NOT_FOUND);
constexpr int ecPathNotFound = -static_cast<int>(ERROR_PATH_NOT_FOUND);
constexpr int ecPrivilegeNotHeld = -static_cast<int>(ERROR_PRIVILEGE_NOT_HELD);

// How long a deferred close waits before it looks again whether the threads have ended.
constexpr int ClosePollMs = 2;

} // namespace

// --- the Open property ---------------------------------------------------------------------------

void TApdCustomComPort::SetOpen(bool value) {
    if (value == open_) {
        // A close asked for while a reopen waits for the pending close cancels the reopen.
        if (!value && state_ == ComPortState::Closing)
            reopenPending_ = false;
        return;
    }
    if (Loading()) {
        open_ = value;
        if (value)
            openRequestedWhileLoading_ = true;
        return;
    }
    if (!value)
        ClosePort();
    else if (state_ == ComPortState::Closed)
        OpenPort();
    else if (state_ == ComPortState::Closing)
        reopenPending_ = true;
}

void TApdCustomComPort::SetComNumber(std::uint16_t value) {
    if (!Changed(comNumber_, value))
        return;
    if (IsOpen())
        ChangeOpenComNumber(value);
    else
        comNumber_ = value;
}

void TApdCustomComPort::ChangeOpenComNumber(std::uint16_t value) {
    TApdBaseDispatcher::FreeTriggerSnapshot(savedTriggers_);
    dispatcher_->SnapshotTriggers(savedTriggers_);
    triggersSaved_ = true;
    const TTraceLogState tracing = trace_.State;
    const TTraceLogState logging = log_.State;
    SetOpen(false);
    comNumber_ = value;
    // While closed only a trace or log that is on is kept.
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
    if (state_ == ComPortState::Open && dispatcher_)
        dispatcher_->RestoreTriggers(savedTriggers_);
}

// --- the open sequence ---------------------------------------------------------------------------

void TApdCustomComPort::ResolveComNumber() {
    if (comNumber_ != 0)
        return;
    if (!promptForPort_)
        throw ENoPortSelected(ENoPortSelected::Code);
    TComSelectForm form(nullptr);
    if (form.exec() != QDialog::Accepted)
        throw ENoPortSelected(ENoPortSelected::Code);
    comNumber_ = form.SelectedComNumber();
}

std::unique_ptr<TApdBaseDispatcher> TApdCustomComPort::CreateDispatcher() {
    if (dispatcherFactory_)
        return dispatcherFactory_(*this);
    if (deviceLayer_ != dlWin32)
        CheckException(this, ENullApi::Code);
    // No telephony dispatcher exists here: in TAPI mode the dispatcher finds no device that the
    // telephony layer opened, and the open fails with ENotOpenedByTapi.
    return std::make_unique<TApdWin32Dispatcher>(this);
}

int TApdCustomComPort::OpenDevice() {
    const std::string name =
        tapiMode_ == tmOn ? std::string() : "\\\\.\\COM" + std::to_string(comNumber_);
    DWORD flow = 0;
    if (dtr_)
        flow |= TApdBaseDispatcher::optDtrOn;
    if (rts_)
        flow |= TApdBaseDispatcher::optRtsOn;
    if (hwFlowOptions_.Contains(hwfUseDTR))
        flow |= TApdBaseDispatcher::optDtrByFlow;
    if (hwFlowOptions_.Contains(hwfUseRTS))
        flow |= TApdBaseDispatcher::optRtsByFlow;
    return dispatcher_->OpenComm(name, static_cast<DWORD>(baud_), parity_, dataBits_ & 0xFF,
                                 stopBits_ & 0xFF, inSize_, outSize_, flow);
}

void TApdCustomComPort::OpenPort() {
    if (tapiMode_ != tmOn)
        ResolveComNumber();
    if (!dispatcher_)
        dispatcher_ = CreateDispatcher();
    if (!dispatcher_)
        CheckException(this, ENullApi::Code);
    try {
        if (tapiMode_ == tmOn && dispatcher_->DeviceHandle < 0)
            CheckException(this, ENotOpenedByTapi::Code);
        // The window is registered before the threads start, so every pass is handed to this
        // thread: none can scan the first bytes before the caller has added its triggers.
        SetPortWindow(true);
        int result = OpenDevice();
        if (result == ecAccessDenied)
            result = EAlreadyOpen::Code;
        else if (result == ecFileNotFound || result == ecPathNotFound)
            result = EBadId::Code;
        else if (result == ecPrivilegeNotHeld)
            result = EPortAccessDenied::Code;
        if (result != 0 && CheckException(this, result) != 0) {
            // Not raised while the design values are applied; the port stays closed all the same.
            DiscardOpenAttempt();
            return;
        }
        state_ = ComPortState::Open;
        UpdateTriggerEventMode();
        ApplySettingsAfterOpen();
        open_ = true;
        if (triggersSaved_) {
            triggersSaved_ = false;
            dispatcher_->RestoreTriggers(savedTriggers_);
        }
        PortOpened();
    } catch (...) {
        DiscardOpenAttempt();
        throw;
    }
}

void TApdCustomComPort::ApplySettingsAfterOpen() {
    // Each setting through its own setter, so that each reaches the new dispatcher.
    WithForceApply([this] {
        SetTracing(trace_.State);
        SetLogging(log_.State);
        SetHWFlowOptions(hwFlowOptions_);
        SetSWFlowOptions(swFlowOptions_);
        SetXOnChar(xOnChar_);
        SetXOffChar(xOffChar_);
        SetTriggerLength(triggerLength_);
        SetDTR(dtr_);
        if (deviceLayer_ != dlFossil)
            SetRTS(rts_);
        SetUseMSRShadow(true);
        SetUseEventWord(useEventWord_);
        SetCommNotificationLevel(commNotificationLevel_);
        SetRS485Mode(rs485Mode_);
        SetThreadBoost(threadBoost_);
    });
}

void TApdCustomComPort::DiscardOpenAttempt() {
    open_ = false;
    state_ = ComPortState::Closed;
    if (portWindow_)
        SetPortWindow(false);
    DestroyDispatcher();
}

void TApdCustomComPort::DestroyDispatcher() {
    // Moved out first: the dispatcher's destructor may pump messages that look at this port.
    std::unique_ptr<TApdBaseDispatcher> dispatcher = std::move(dispatcher_);
    portThreadProc_ = 0;
    dispatcher.reset();
}

// --- the close sequence --------------------------------------------------------------------------

void TApdCustomComPort::ClosePort() {
    open_ = false;
    if (state_ != ComPortState::Open)
        return;
    // An active trace or log goes to its file. A file that cannot be written does not keep the
    // port open: the failure is raised once the port is closed.
    std::exception_ptr dumpFailure;
    for (auto setter : {&TApdCustomComPort::SetTracing, &TApdCustomComPort::SetLogging}) {
        try {
            (this->*setter)(tlDump);
        } catch (...) {
            if (!dumpFailure)
                dumpFailure = std::current_exception();
        }
    }
    state_ = ComPortState::Closing;
    ServeTriggersOnPortThread({});
    PortClosing();
    TApdBaseDispatcher::FreeTriggerSnapshot(savedTriggers_);
    dispatcher_->SnapshotTriggers(savedTriggers_);
    triggersSaved_ = true;
    dispatcher_->CloseComm();
    if (dispatcher_->Delivering()) {
        // Asked for from inside an event handler: the dispatch thread releases the port once the
        // handler has returned, and the port window completes the close after that.
        PostMessage(portWindow_ ? portWindow_->Handle() : NullWindow, ClosePendingMessage, 0,
                    static_cast<LPARAM>(dispatcher_->DispatcherNumber) * 65536);
        ProcessOneMessage();
    } else {
        CompleteClose();
    }
    if (dumpFailure)
        std::rethrow_exception(dumpFailure);
}

void TApdCustomComPort::FinishDeferredClose(TApdBaseDispatcher& dispatcher, LPARAM lParam) {
    if (dispatcher.ThreadsActive()) {
        // The dispatch thread is still on its way out: look again shortly. A timer rather than an
        // immediate repost, so the GUI thread does not spin meanwhile.
        const HWND window = PortWindow();
        QTimer::singleShot(ClosePollMs, portWindow_.get(), [window, lParam] {
            PostMessage(window, ClosePendingMessage, 0, lParam);
        });
        return;
    }
    CompleteClose();
}

void TApdCustomComPort::CompleteClose() {
    SetPortWindow(false);
    DestroyDispatcher();
    state_ = ComPortState::Closed;
    // An open asked for while the close ran (from a handler it let through) runs now.
    if (reopenPending_) {
        reopenPending_ = false;
        OpenPort();
    }
}

void TApdCustomComPort::CancelPendingClose() {
    SetPortWindow(false);
    DestroyDispatcher(); // finishes the release and waits for the threads
    state_ = ComPortState::Closed;
}

// --- the port window -----------------------------------------------------------------------------

HWND TApdCustomComPort::PortWindow() const {
    return portWindow_ ? portWindow_->Handle() : NullWindow;
}

void TApdCustomComPort::SetPortWindow(bool Create) {
    if (Create) {
        if (portWindow_)
            return;
        windowLink_ = std::make_shared<WindowLink>();
        windowLink_->Port = this;
        portWindow_ = std::make_unique<MessageWindow>(
            [link = windowLink_](HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
                const std::shared_ptr<WindowLink> keep = link;
                return keep->Port ? keep->Port->WindowProc(window, msg, wParam, lParam)
                                  : LRESULT{0};
            });
        if (dispatcher_)
            dispatcher_->RegisterHandlerWindow(portWindow_->Handle());
        return;
    }
    if (!portWindow_)
        return;
    if (dispatcher_)
        dispatcher_->DeregisterHandlerWindow(portWindow_->Handle());
    windowLink_->Port = nullptr;
    windowLink_.reset();
    std::unique_ptr<MessageWindow> window = std::move(portWindow_);
    auto* app = QCoreApplication::instance();
    if (windowProcDepth_ > 0 && app) {
        // The window's own procedure is running: the window goes once that has returned. The
        // queued call owns it, so it is freed even if the call never runs.
        std::shared_ptr<MessageWindow> owned(window.release());
        QMetaObject::invokeMethod(
            app, [owned]() mutable { owned.reset(); }, Qt::QueuedConnection);
    }
}

LRESULT TApdCustomComPort::WindowProc(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case TriggerAvailMessage:
    case TriggerDataMessage:
    case TriggerTimerMessage:
    case TriggerStatusMessage:
    case ClosePendingMessage:
    case DeviceLostMessage:
        break;
    default:
        return 0;
    }
    ++windowProcDepth_;
    try {
        // Held until the handlers have returned: the dispatcher cannot go away under them.
        std::lock_guard lock(DispatcherRegistry::Lock());
        const int number = static_cast<int>((static_cast<std::uintptr_t>(lParam) >> 16) & 0xFFFF);
        TApdBaseDispatcher* dispatcher = DispatcherRegistry::Find(number);
        // A number that now names another port's dispatcher is not ours to act on.
        if (dispatcher && dispatcher->Owner == this)
            RouteMessage(*dispatcher, msg, wParam, lParam);
    } catch (const std::exception& error) {
        if (IsMainThread())
            ShowException(error);
    } catch (...) {
    }
    --windowProcDepth_;
    return 0;
}

void TApdCustomComPort::RouteMessage(TApdBaseDispatcher& dispatcher, UINT msg, WPARAM wParam,
                                     LPARAM lParam) {
    if (msg == DeviceLostMessage) {
        if (state_ == ComPortState::Open && &dispatcher == dispatcher_.get() && onDeviceLost_)
            onDeviceLost_(*this);
        return;
    }
    const auto handle = static_cast<std::uint16_t>(wParam);
    const auto data =
        static_cast<std::uint16_t>(msg == TriggerAvailMessage ? wParam : (lParam & 0xFFFF));
    DoTrigger(static_cast<std::uint16_t>(msg), handle, data);
    switch (msg) {
    case TriggerAvailMessage:
        DoTriggerAvail(handle);
        break;
    case TriggerDataMessage:
        DoTriggerData(handle);
        break;
    case TriggerTimerMessage:
        DoTriggerTimer(handle);
        break;
    case TriggerStatusMessage:
        DoTriggerStatus(handle);
        switch (handle & 7) {
        case stModem:
            DoTriggerModemStatus();
            break;
        case stLine: {
            const bool lineBreak = dispatcher.TakeLineBreak();
            const int error = dispatcher.TakeLineError();
            DoTriggerLineError(static_cast<std::uint16_t>(error), lineBreak);
            break;
        }
        case stOutFree:
            DoTriggerOutbuffFree();
            break;
        case stOutUsed:
            DoTriggerOutbuffUsed();
            break;
        case stOutSent:
            DoTriggerOutSent();
            break;
        default:
            break;
        }
        break;
    case ClosePendingMessage:
        if (state_ == ComPortState::Closing && &dispatcher == dispatcher_.get())
            FinishDeferredClose(dispatcher, lParam);
        break;

    default:
        break;
    }
}
