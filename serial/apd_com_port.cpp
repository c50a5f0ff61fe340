// The com port component: construction and destruction, the plain settings, the events, and the
// three operations the program uses.
#include "serial/apd_com_port.h"

#include "runtime/message_box.h"
#include "serial/apd_exceptions.h"
#include "serial/check_exception.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr std::size_t MaxDataTriggerBytes = 255;
constexpr std::size_t MaxShortString = 255;

} // namespace

TApdCustomComPort::TApdCustomComPort(QObject* owner) : TApdBaseComponent(owner) {
    trace_.Name = "RUVO.TRC";
    trace_.MaxSize = 4000000;
    log_.Name = "RUVO.LOG";
    log_.MaxSize = 16000000;
}

TApdCustomComPort::~TApdCustomComPort() {
    reopenPending_ = false;
    if (state_ == ComPortState::Open) {
        try {
            ClosePort();
        } catch (const std::exception&) {
            // A trace or log that cannot be written is no reason to keep the port open.
        }
    }
    // A close still waiting for the dispatcher's threads is finished here, before the memory the
    // window and the dispatcher refer to goes away.
    if (state_ == ComPortState::Closing)
        CancelPendingClose();
    portUsers_.clear();
    TApdBaseDispatcher::FreeTriggerSnapshot(savedTriggers_);
}

// --- settings ------------------------------------------------------------------------------------

void TApdCustomComPort::SetDeviceLayer(TDeviceLayer value) {
    if (state_ != ComPortState::Closed || !Changed(deviceLayer_, value))
        return;
    if ((supportedLayers_ & (1u << value)) == 0)
        return;
    deviceLayer_ = value;
    AfterDeviceLayerChange();
}

void TApdCustomComPort::SetInSize(std::uint16_t value) {
    if (!Changed(inSize_, value))
        return;
    inSize_ = value;
    if (IsOpen())
        OpenDispatcher().ChangeQueueSizes(inSize_, outSize_); // not checked
}

void TApdCustomComPort::SetOutSize(std::uint16_t value) {
    if (!Changed(outSize_, value))
        return;
    outSize_ = value;
    if (IsOpen())
        OpenDispatcher().ChangeQueueSizes(inSize_, outSize_);
}

void TApdCustomComPort::SetTraceName(const std::string& value) {
    trace_.Name = value.substr(0, MaxShortString);
}

void TApdCustomComPort::SetLogName(const std::string& value) {
    log_.Name = value.substr(0, MaxShortString);
}

void TApdCustomComPort::SetUseMSRShadow(bool) {}

void TApdCustomComPort::SetUseEventWord(bool value) {
    if (!Changed(useEventWord_, value))
        return;
    useEventWord_ = value;
    if (!IsOpen())
        return;
    constexpr DWORD EventWordOption = 4;
    if (value)
        OpenDispatcher().SetOptionFlags(EventWordOption);
    else
        OpenDispatcher().ClearOptionFlags(EventWordOption);
}

void TApdCustomComPort::SetTriggerLength(std::uint16_t value) {
    if (!Changed(triggerLength_, value))
        return;
    triggerLength_ = value;
    if (IsOpen())
        OpenDispatcher().SetAvailThreshold(value);
}

void TApdCustomComPort::SetThreadBoost(std::uint8_t value) {
    if (!Changed(threadBoost_, value))
        return;
    threadBoost_ = value;
    if (IsOpen())
        OpenDispatcher().SetPriorityBoost(value);
}

// --- events --------------------------------------------------------------------------------------

namespace {

template <typename Event> void Assign(Event& member, Event handler) {
    member = std::move(handler);
}

} // namespace

void TApdCustomComPort::SetOnTrigger(TTriggerEvent handler) {
    ::Assign(onTrigger_, std::move(handler));
    UpdateTriggerEventMode();
}

void TApdCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent handler) {
    ::Assign(onTriggerAvail_, std::move(handler));
    UpdateTriggerEventMode();
}

void TApdCustomComPort::SetOnTriggerData(TTriggerDataEvent handler) {
    ::Assign(onTriggerData_, std::move(handler));
    UpdateTriggerEventMode();
}

void TApdCustomComPort::SetOnTriggerStatus(TTriggerStatusEvent handler) {
    ::Assign(onTriggerStatus_, std::move(handler));
    UpdateTriggerEventMode();
}

void TApdCustomComPort::SetOnTriggerTimer(TTriggerTimerEvent handler) {
    ::Assign(onTriggerTimer_, std::move(handler));
    UpdateTriggerEventMode();
}

void TApdCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent handler) {
    ::Assign(onTriggerLineError_, std::move(handler));
    UpdateTriggerEventMode();
}

void TApdCustomComPort::SetOnTriggerModemStatus(TNotifyEvent handler) {
    ::Assign(onTriggerModemStatus_, std::move(handler));
    UpdateTriggerEventMode();
}

void TApdCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent handler) {
    ::Assign(onTriggerOutbuffFree_, std::move(handler));
    UpdateTriggerEventMode();
}

void TApdCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent handler) {
    ::Assign(onTriggerOutbuffUsed_, std::move(handler));
    UpdateTriggerEventMode();
}

void TApdCustomComPort::SetOnTriggerOutSent(TNotifyEvent handler) {
    ::Assign(onTriggerOutSent_, std::move(handler));
    UpdateTriggerEventMode();
}

bool TApdCustomComPort::HasTriggerHandlers() const {
    return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ ||
           onTriggerLineError_ || onTriggerModemStatus_ || onTriggerOutbuffFree_ ||
           onTriggerOutbuffUsed_ || onTriggerOutSent_;
}

void TApdCustomComPort::UpdateTriggerEventMode() {
    if (state_ != ComPortState::Open || !dispatcher_)
        return;
    dispatcher_->UpdateHandlerService(HasTriggerHandlers() ? HandlerService::OwnerHasHandlers
                                                           : HandlerService::OwnerHasNone);
}

void TApdCustomComPort::DoTrigger(std::uint16_t Msg, std::uint16_t TriggerHandle,
                                  std::uint16_t Data) {
    if (onTrigger_)
        onTrigger_(*this, Msg, TriggerHandle, Data);
}

void TApdCustomComPort::DoTriggerAvail(std::uint16_t Count) {
    if (onTriggerAvail_)
        onTriggerAvail_(*this, Count);
}

void TApdCustomComPort::DoTriggerData(std::uint16_t TriggerHandle) {
    if (onTriggerData_)
        onTriggerData_(*this, TriggerHandle);
}

void TApdCustomComPort::DoTriggerStatus(std::uint16_t TriggerHandle) {
    if (onTriggerStatus_)
        onTriggerStatus_(*this, TriggerHandle);
}

void TApdCustomComPort::DoTriggerTimer(std::uint16_t TriggerHandle) {
    if (onTriggerTimer_)
        onTriggerTimer_(*this, TriggerHandle);
}

void TApdCustomComPort::DoTriggerLineError(std::uint16_t Error, bool LineBreak) {
    if (onTriggerLineError_)
        onTriggerLineError_(*this, Error, LineBreak);
}

void TApdCustomComPort::DoTriggerModemStatus() {
    if (onTriggerModemStatus_)
        onTriggerModemStatus_(*this);
}

void TApdCustomComPort::DoTriggerOutbuffFree() {
    if (onTriggerOutbuffFree_)
        onTriggerOutbuffFree_(*this);
}

void TApdCustomComPort::DoTriggerOutbuffUsed() {
    if (onTriggerOutbuffUsed_)
        onTriggerOutbuffUsed_(*this);
}

void TApdCustomComPort::DoTriggerOutSent() {
    if (onTriggerOutSent_)
        onTriggerOutSent_(*this);
}

void TApdCustomComPort::DoWaitChar(char C) {
    if (onWaitChar_)
        onWaitChar_(*this, C);
}

// --- the dispatcher and the operations -----------------------------------------------------------

TApdBaseDispatcher* TApdCustomComPort::GetDispatcher() {
    if (!dispatcher_ && !Loading() && state_ != ComPortState::Open && autoOpen_)
        SetOpen(true);
    return dispatcher_.get();
}

TApdBaseDispatcher* TApdCustomComPort::RequireDispatcher() {
    TApdBaseDispatcher* dispatcher = GetDispatcher();
    if (!dispatcher)
        CheckException(this, ECommNotOpen::Code); // returns only while loading
    return dispatcher;
}

std::uint16_t TApdCustomComPort::AddDataTrigger(const std::string& Data, bool IgnoreCase) {
    if (state_ == ComPortState::Closing)
        return 0;
    // The length travels separately, so the bytes need no terminating zero.
    std::array<BYTE, MaxDataTriggerBytes + 1> bytes{};
    const std::size_t length = std::min(Data.size(), MaxDataTriggerBytes);
    std::copy_n(Data.begin(), length, bytes.begin());
    TApdBaseDispatcher* dispatcher = RequireDispatcher();
    if (!dispatcher)
        return 0;
    const int result =
        dispatcher->AddDataTrigger(bytes.data(), static_cast<DWORD>(Data.size()), IgnoreCase);
    return static_cast<std::uint16_t>(CheckException(this, result));
}

void TApdCustomComPort::RemoveTrigger(std::uint16_t TriggerHandle) {
    if (!IsOpen())
        return;
    CheckException(this, OpenDispatcher().RemoveTrigger(TriggerHandle));
}

char TApdCustomComPort::GetChar() {
    if (state_ == ComPortState::Closing)
        return 0;
    TApdBaseDispatcher* dispatcher = RequireDispatcher();
    if (!dispatcher)
        return 0;
    BYTE c = 0;
    const int result = dispatcher->GetChar(c);
    if (result == 0)
        return static_cast<char>(c);
    CheckException(this, result);
    return 0;
}

void TApdCustomComPort::YieldDispatcher() {
    if (state_ == ComPortState::Closing)
        return;
    if (TApdBaseDispatcher* dispatcher = RequireDispatcher())
        CheckException(this, dispatcher->YieldSlice());
}

void TApdCustomComPort::Loaded() {
    SetLoading(false);
    if (openRequestedWhileLoading_)
        open_ = true;
    if (!open_)
        return;
    openRequestedWhileLoading_ = false;
    open_ = false; // the open sequence sets it again when it succeeds
    try {
        OpenPort();
    } catch (const std::exception& error) {
        open_ = false;
        ShowException(error);
    }
}

void TApdCustomComPort::Assign(const TApdCustomComPort& source) {
    if (&source == this)
        return;
    SetOpen(false);
    deviceLayer_ = source.deviceLayer_;
    comNumber_ = source.comNumber_;
    baud_ = source.baud_;
    promptForPort_ = source.promptForPort_;
    parity_ = source.parity_;
    dataBits_ = source.dataBits_;
    stopBits_ = source.stopBits_;
    inSize_ = source.inSize_;
    outSize_ = source.outSize_;
    autoOpen_ = source.autoOpen_;
    dtr_ = source.dtr_;
    rts_ = source.rts_;
    hwFlowOptions_ = source.hwFlowOptions_;
    swFlowOptions_ = source.swFlowOptions_;
    xOnChar_ = source.xOnChar_;
    xOffChar_ = source.xOffChar_;
    bufferFull_ = source.bufferFull_;
    bufferResume_ = source.bufferResume_;
    // A closed port keeps only a trace or log that is on.
    trace_ = source.trace_;
    trace_.State = trace_.State == tlOn ? tlOn : tlOff;
    log_ = source.log_;
    log_.State = log_.State == tlOn ? tlOn : tlOff;
    useEventWord_ = source.useEventWord_;
    commNotificationLevel_ = source.commNotificationLevel_;
    tapiMode_ = source.tapiMode_;
    rs485Mode_ = source.rs485Mode_;
    tag_ = source.tag_;
    triggerLength_ = source.triggerLength_;
    threadBoost_ = source.threadBoost_;
    tapiNumber_ = source.tapiNumber_;
    portUsers_ = source.portUsers_;
    onTrigger_ = source.onTrigger_;
    onTriggerAvail_ = source.onTriggerAvail_;
    onTriggerData_ = source.onTriggerData_;
    onTriggerStatus_ = source.onTriggerStatus_;
    onTriggerTimer_ = source.onTriggerTimer_;
    onPortOpen_ = source.onPortOpen_;
    onPortClose_ = source.onPortClose_;
    if (source.state_ == ComPortState::Open && source.dispatcher_) {
        TApdBaseDispatcher::FreeTriggerSnapshot(savedTriggers_);
        source.dispatcher_->SnapshotTriggers(savedTriggers_);
        triggersSaved_ = true;
    }
}

// --- port users ----------------------------------------------------------------------------------

void TApdCustomComPort::RegisterPortUser(HWND window, TPortUserCallback callback, void* userData) {
    portUsers_.push_back({window, std::move(callback), userData});
}

void TApdCustomComPort::DeregisterPortUser(HWND window, void* userData) {
    std::erase_if(portUsers_, [&](const PortUser& user) {
        return user.Window == window && user.UserData == userData;
    });
}

void TApdCustomComPort::NotifyPortUsers(UINT msg, bool opening) {
    // Last registered first; a copy, since a user may deregister while being told.
    const std::vector<PortUser> users = portUsers_;
    for (auto it = users.rbegin(); it != users.rend(); ++it) {
        if (it->Window != NullWindow)
            SendMessageTimeout(it->Window, msg, 0, 0, TApdBaseDispatcher::DefaultSendTimeoutMs);
        else if (it->Callback)
            it->Callback(it->UserData, *this, opening);
    }
}

void TApdCustomComPort::PortOpened() {
    NotifyPortUsers(PortOpenMessage, true);
    if (onPortOpen_)
        onPortOpen_(*this);
}

void TApdCustomComPort::PortClosing() {
    NotifyPortUsers(PortClosingMessage, false);
    if (onPortClose_)
        onPortClose_(*this);
}

// A delivery copies its procedure before calling it, so a procedure taken off the list may still
// be running, or about to start, on the port's thread. Its handler counts itself in, and backs
// out once ended; whoever ends it from another thread waits for the call that is in.
struct TApdCustomComPort::PortThreadCalls {
    std::atomic<int> Running{0};
    std::atomic<bool> Ended{false};
    static inline thread_local const PortThreadCalls* Inside = nullptr;

    void End() {
        Ended = true;
        if (Inside == this)
            return; // ended by its own handler: the call in is this one
        while (Running.load() != 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
};

void TApdCustomComPort::ServeTriggersOnPortThread(TPortThreadTriggerEvent handler) {
    if (dispatcher_ && portThreadProc_ != 0)
        dispatcher_->DeregisterHandlerProc(portThreadProc_);
    portThreadProc_ = 0;
    if (portThreadCalls_)
        portThreadCalls_->End();
    portThreadCalls_.reset();
    if (!handler || !IsOpen())
        return;
    portThreadCalls_ = std::make_shared<PortThreadCalls>();
    // A procedure on the list keeps the whole pass on the dispatch thread.
    portThreadProc_ = dispatcher_->RegisterHandlerProc(
        [handler = std::move(handler), dispatcher = dispatcher_.get(),
         calls = portThreadCalls_](UINT msg, WPARAM wParam, LPARAM) {
            if (msg != TriggerAvailMessage && msg != TriggerDataMessage)
                return;
            ++calls->Running;
            const PortThreadCalls* outer = PortThreadCalls::Inside;
            PortThreadCalls::Inside = calls.get();
            struct Leave {
                PortThreadCalls& Calls;
                const PortThreadCalls* Outer;
                ~Leave() {
                    PortThreadCalls::Inside = Outer;
                    --Calls.Running;
                }
            } leave{*calls, outer};
            if (!calls->Ended)
                handler(*dispatcher, msg, static_cast<std::uint16_t>(wParam));
        });
}

LineErrorCounts TApdCustomComPort::LineErrorTally() const {
    return IsOpen() && dispatcher_ ? dispatcher_->LineErrorTally() : LineErrorCounts{};
}
