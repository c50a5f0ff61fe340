#pragma once
// The com port component: one serial port with its settings, opened on first use. While open it
// owns a dispatcher, whose trigger messages reach a hidden per-port window on the thread that
// opened the port and become the component's events there. Failures leave it as exceptions of
// the EAPDException family (CheckException).

#include "serial/apd_base_dispatcher.h"
#include "serial/platform/message_window.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum TDeviceLayer { dlWin16, dlFossil, dlWin32, dlWinsock };
enum THWFlowOptions { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };
enum class ComPortState { Closed, Closing, Open };

// A set of hardware flow options. Its bits are the device's flow word: hwfUseDTR 1, hwfUseRTS 2,
// hwfRequireDSR 4, hwfRequireCTS 8.
class THWFlowOptionSet {
public:
    constexpr THWFlowOptionSet() = default;
    constexpr THWFlowOptionSet(std::initializer_list<THWFlowOptions> options) {
        for (const THWFlowOptions option : options)
            bits_ |= Bit(option);
    }
    constexpr bool Contains(THWFlowOptions option) const { return (bits_ & Bit(option)) != 0; }
    constexpr THWFlowOptionSet Without(THWFlowOptions option) const {
        THWFlowOptionSet result = *this;
        result.bits_ &= static_cast<std::uint8_t>(~Bit(option));
        return result;
    }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const THWFlowOptionSet&) const = default;

private:
    static constexpr std::uint8_t Bit(THWFlowOptions option) {
        return static_cast<std::uint8_t>(1u << option);
    }
    std::uint8_t bits_ = 0;
};

// Asks which port a component without a port number (and with PromptForPort) opens; 0 when none
// was chosen. Whoever shows windows sets it (the port selection dialog); without one the open is
// refused with ENoPortSelected, as when the choice is cancelled. Returns the previous one.
using ComNumberPrompt = std::function<int()>;
ComNumberPrompt SetComNumberPrompt(ComNumberPrompt prompt);

class TApdCustomComPort;
using TTriggerEvent = std::function<void(TApdCustomComPort& CP, std::uint16_t Msg,
                                         std::uint16_t TriggerHandle, std::uint16_t Data)>;
using TTriggerAvailEvent = std::function<void(TApdCustomComPort& CP, std::uint16_t Count)>;
using TTriggerDataEvent = std::function<void(TApdCustomComPort& CP, std::uint16_t TriggerHandle)>;
using TTriggerStatusEvent = std::function<void(TApdCustomComPort& CP, std::uint16_t TriggerHandle)>;
using TTriggerTimerEvent = std::function<void(TApdCustomComPort& CP, std::uint16_t TriggerHandle)>;
using TTriggerLineErrorEvent =
    std::function<void(TApdCustomComPort& CP, std::uint16_t Error, bool LineBreak)>;
using TNotifyEvent = std::function<void(QObject& Sender)>;
using TWaitCharEvent = std::function<void(TApdCustomComPort& CP, char C)>;
// Runs on the port's comm or dispatch thread, one pass at a time, for the characters-available
// trigger (Msg TriggerAvailMessage, Value the count) and the data triggers (TriggerDataMessage,
// Value the handle), taking the bytes from the dispatcher it is given.
using TPortThreadTriggerEvent =
    std::function<void(TApdBaseDispatcher& Dispatcher, UINT Msg, std::uint16_t Value)>;
// Creates the dispatcher of an open instead of the component's own choice.
using TDispatcherFactory = std::function<std::unique_ptr<TApdBaseDispatcher>(TApdCustomComPort&)>;
// Told that the port opened (true) or is closing (false).
using TPortUserCallback = std::function<void(void* UserData, TApdCustomComPort& CP, bool Opening)>;

// Messages to the windows on the port-user list.
constexpr UINT PortOpenMessage = 0x7E08;
constexpr UINT PortClosingMessage = 0x7E09;

class TApdBaseComponent : public QObject {
public:
    explicit TApdBaseComponent(QObject* owner) : QObject(owner) {}
    std::string Version() const { return "v3.03"; }
    void SetVersion(const std::string&) {}
    // Set while the owning form applies the design values; cleared by Loaded().
    bool Loading() const { return loading_; }
    void SetLoading(bool value) { loading_ = value; }

protected:
    bool loading_ = false;
};

class TApdCustomComPort : public TApdBaseComponent {
public:
    explicit TApdCustomComPort(QObject* owner);
    TApdCustomComPort(const TApdCustomComPort&) = delete;
    TApdCustomComPort& operator=(const TApdCustomComPort&) = delete;
    ~TApdCustomComPort() override;

    // --- properties ----------------------------------------------------------------------------
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    void SetDeviceLayer(TDeviceLayer value);
    std::uint16_t ComNumber() const { return comNumber_; }
    void SetComNumber(std::uint16_t value);
    std::int32_t Baud() const { return baud_; }
    void SetBaud(std::int32_t value);
    bool PromptForPort() const { return promptForPort_; }
    void SetPromptForPort(bool value) { promptForPort_ = value; }
    TParity Parity() const { return parity_; }
    void SetParity(TParity value);
    std::uint16_t DataBits() const { return dataBits_; }
    void SetDataBits(std::uint16_t value);
    std::uint16_t StopBits() const { return stopBits_; }
    void SetStopBits(std::uint16_t value);
    std::uint16_t InSize() const { return inSize_; }
    void SetInSize(std::uint16_t value);
    std::uint16_t OutSize() const { return outSize_; }
    void SetOutSize(std::uint16_t value);
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value) { autoOpen_ = value; }
    bool Open() const { return open_; }
    void SetOpen(bool value);
    bool DTR() const { return dtr_; }
    void SetDTR(bool value);
    bool RTS() const { return rts_; }
    void SetRTS(bool value);
    THWFlowOptionSet HWFlowOptions() const { return hwFlowOptions_; }
    void SetHWFlowOptions(THWFlowOptionSet value);
    TSWFlowOptions SWFlowOptions() const { return swFlowOptions_; }
    void SetSWFlowOptions(TSWFlowOptions value);
    char XOnChar() const { return xOnChar_; }
    void SetXOnChar(char value);
    char XOffChar() const { return xOffChar_; }
    void SetXOffChar(char value);
    std::uint16_t BufferFull() const { return bufferFull_; }
    void SetBufferFull(std::uint16_t value);
    std::uint16_t BufferResume() const { return bufferResume_; }
    void SetBufferResume(std::uint16_t value);
    TTraceLogState Tracing() const { return trace_.State; }
    void SetTracing(TTraceLogState value);
    std::uint32_t TraceSize() const { return trace_.Size; }
    void SetTraceSize(std::uint32_t value);
    const std::string& TraceName() const { return trace_.Name; }
    void SetTraceName(const std::string& value);
    bool TraceHex() const { return trace_.Hex; }
    void SetTraceHex(bool value) { trace_.Hex = value; }
    bool TraceAllHex() const { return trace_.AllHex; }
    void SetTraceAllHex(bool value) { trace_.AllHex = value; }
    TTraceLogState Logging() const { return log_.State; }
    void SetLogging(TTraceLogState value);
    std::uint32_t LogSize() const { return log_.Size; }
    void SetLogSize(std::uint32_t value);
    const std::string& LogName() const { return log_.Name; }
    void SetLogName(const std::string& value);
    bool LogHex() const { return log_.Hex; }
    void SetLogHex(bool value) { log_.Hex = value; }
    bool LogAllHex() const { return log_.AllHex; }
    void SetLogAllHex(bool value) { log_.AllHex = value; }
    bool UseMSRShadow() const { return true; }
    virtual void SetUseMSRShadow(bool value);
    bool UseEventWord() const { return useEventWord_; }
    void SetUseEventWord(bool value);
    std::uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
    void SetCommNotificationLevel(std::uint16_t value) { commNotificationLevel_ = value; }
    TTapiMode TapiMode() const { return tapiMode_; }
    void SetTapiMode(TTapiMode value) { tapiMode_ = value; }
    bool RS485Mode() const { return rs485Mode_; }
    void SetRS485Mode(bool value);
    std::int32_t Tag() const { return tag_; }
    void SetTag(std::int32_t value) { tag_ = value; }

    // --- events --------------------------------------------------------------------------------
    const TTriggerEvent& OnTrigger() const { return onTrigger_; }
    void SetOnTrigger(TTriggerEvent handler);
    const TTriggerAvailEvent& OnTriggerAvail() const { return onTriggerAvail_; }
    void SetOnTriggerAvail(TTriggerAvailEvent handler);
    const TTriggerDataEvent& OnTriggerData() const { return onTriggerData_; }
    void SetOnTriggerData(TTriggerDataEvent handler);
    const TTriggerStatusEvent& OnTriggerStatus() const { return onTriggerStatus_; }
    void SetOnTriggerStatus(TTriggerStatusEvent handler);
    const TTriggerTimerEvent& OnTriggerTimer() const { return onTriggerTimer_; }
    void SetOnTriggerTimer(TTriggerTimerEvent handler);
    const TTriggerLineErrorEvent& OnTriggerLineError() const { return onTriggerLineError_; }
    void SetOnTriggerLineError(TTriggerLineErrorEvent handler);
    const TNotifyEvent& OnTriggerModemStatus() const { return onTriggerModemStatus_; }
    void SetOnTriggerModemStatus(TNotifyEvent handler);
    const TNotifyEvent& OnTriggerOutbuffFree() const { return onTriggerOutbuffFree_; }
    void SetOnTriggerOutbuffFree(TNotifyEvent handler);
    const TNotifyEvent& OnTriggerOutbuffUsed() const { return onTriggerOutbuffUsed_; }
    void SetOnTriggerOutbuffUsed(TNotifyEvent handler);
    const TNotifyEvent& OnTriggerOutSent() const { return onTriggerOutSent_; }
    void SetOnTriggerOutSent(TNotifyEvent handler);
    const TWaitCharEvent& OnWaitChar() const { return onWaitChar_; }
    void SetOnWaitChar(TWaitCharEvent handler) { onWaitChar_ = std::move(handler); }
    void SetOnPortOpen(TNotifyEvent handler) { onPortOpen_ = std::move(handler); }
    void SetOnPortClose(TNotifyEvent handler) { onPortClose_ = std::move(handler); }
    // The open port's device went away (unplugged, hung up) after its last bytes were delivered.
    // The port stays open, uselessly, until the handler closes it, which it may do at once.
    void SetOnDeviceLost(TNotifyEvent handler) { onDeviceLost_ = std::move(handler); }
    // From now until the port closes, its characters-available and data triggers run handler on
    // the port's own threads, where the bytes arrive, instead of waiting for this thread; the other
    // events still reach their handlers here, in order. Set it once the triggers exist, so that
    // no byte is scanned before them. Only while open; an empty handler ends it. Called from
    // another thread than the port's, it returns once the previous handler has returned, and the
    // handler runs no more after that: whatever it touches is then the caller's alone.
    void ServeTriggersOnPortThread(TPortThreadTriggerEvent handler);
    // The line errors the device reported since the port opened; none while closed.
    LineErrorCounts LineErrorTally() const;

    // --- settings that are not published -------------------------------------------------------
    // The characters-available threshold given to the dispatcher at every open; 0 = none.
    std::uint16_t TriggerLength() const { return triggerLength_; }
    void SetTriggerLength(std::uint16_t value);
    std::uint8_t ThreadBoost() const { return threadBoost_; }
    void SetThreadBoost(std::uint8_t value);
    std::uint16_t TapiNumber() const { return tapiNumber_; }
    void SetTapiNumber(std::uint16_t value) { tapiNumber_ = value; }
    void SetDispatcherFactory(TDispatcherFactory factory) {
        dispatcherFactory_ = std::move(factory);
    }

    // --- operations ----------------------------------------------------------------------------
    // Watches for Data (at most 21 bytes) and returns the new trigger's handle; opens the port
    // first when it is closed and AutoOpen is set. 0 while the port is closing.
    std::uint16_t AddDataTrigger(const std::string& Data, bool IgnoreCase);
    // Only while open; handle 1 switches the characters-available event off.
    void RemoveTrigger(std::uint16_t TriggerHandle);
    // One received character; character 0 while the port is closing.
    char GetChar();
    void YieldDispatcher();
    // Copies the settings, the port users and the events of another port; this one is closed,
    // and an open source's triggers become the ones this port brings to its next open.
    void Assign(const TApdCustomComPort& source);
    // The design values have been applied: opens the port if that was asked for meanwhile.
    virtual void Loaded();

    // A window (or, without one, a callback) that hears of opens and closes.
    void RegisterPortUser(HWND window, TPortUserCallback callback, void* userData);
    void DeregisterPortUser(HWND window, void* userData);

    // The dispatcher, opening the port first when it is closed and AutoOpen is set; may be null.
    TApdBaseDispatcher* GetDispatcher();
    // As GetDispatcher, raising ECommNotOpen when there is still none.
    TApdBaseDispatcher* RequireDispatcher();
    // The dispatcher as it is, without opening the port.
    TApdBaseDispatcher* Dispatcher() const { return dispatcher_.get(); }
    ComPortState State() const { return state_; }
    // The port window's handle; NullWindow when there is none.
    HWND PortWindow() const;

protected:
    // --- overridable operations ----------------------------------------------------------------
    virtual std::unique_ptr<TApdBaseDispatcher> CreateDispatcher();
    virtual void AfterDeviceLayerChange() {}
    virtual int OpenDevice();
    virtual void SetPortWindow(bool Create);
    virtual void ResolveComNumber();
    virtual void DoTrigger(std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t Data);
    virtual void DoTriggerAvail(std::uint16_t Count);
    virtual void DoTriggerData(std::uint16_t TriggerHandle);
    virtual void DoTriggerStatus(std::uint16_t TriggerHandle);
    virtual void DoTriggerTimer(std::uint16_t TriggerHandle);
    virtual void UpdateTriggerEventMode();
    virtual void DoTriggerLineError(std::uint16_t Error, bool LineBreak);
    virtual void DoTriggerModemStatus();
    virtual void DoTriggerOutbuffFree();
    virtual void DoTriggerOutbuffUsed();
    virtual void DoTriggerOutSent();
    virtual void DoWaitChar(char C);
    virtual void ClosePort();
    virtual void OpenPort();
    virtual void PortOpened();
    virtual void PortClosing();

private:
    // The settings and state of the byte trace or of the event log.
    struct Recorder {
        TTraceLogState State = tlOff;
        std::uint32_t Size = 10000;
        std::uint32_t MaxSize = 0;
        std::string Name;
        bool Hex = true;
        bool AllHex = false;
    };
    struct RecorderOps;
    static const RecorderOps& TraceOps();
    static const RecorderOps& LogOps();
    struct PortUser {
        HWND Window = NullWindow;
        TPortUserCallback Callback;
        void* UserData = nullptr;
    };
    // Shared by the port window's procedure and the component: cut when the window is retired,
    // so a message still queued for it reaches nothing.
    struct WindowLink {
        TApdCustomComPort* Port = nullptr;
    };

    // A setter's value counts when it differs or while the open applies every setting.
    template <typename T> bool Changed(const T& current, const T& value) const {
        return forceApply_ || !(current == value);
    }
    // Runs apply with the force-apply flag set; the flag's previous value comes back however
    // apply ends.
    template <typename Apply> void WithForceApply(Apply apply) {
        struct Restore {
            bool& Flag;
            bool Previous;
            ~Restore() { Flag = Previous; }
        } restore{forceApply_, forceApply_};
        forceApply_ = true;
        apply();
    }
    // Open, and not while the design values are being applied.
    bool IsOpen() const { return state_ == ComPortState::Open && !Loading(); }
    TApdBaseDispatcher& OpenDispatcher() { return *GetDispatcher(); }
    void ApplyLineParams();
    void ReapplyFlowOptions();
    void SetRecorderState(Recorder& recorder, const RecorderOps& ops, TTraceLogState value);
    void SetRecorderSize(Recorder& recorder, const RecorderOps& ops, std::uint32_t value);
    void ChangeOpenComNumber(std::uint16_t value);
    void ApplySettingsAfterOpen();
    void DiscardOpenAttempt();
    void DestroyDispatcher();
    void FinishDeferredClose(TApdBaseDispatcher& dispatcher, LPARAM lParam);
    // The window gone, the dispatcher freed, Closed; then a reopen that was asked for meanwhile.
    void CompleteClose();
    void CancelPendingClose();
    void NotifyPortUsers(UINT msg, bool opening);
    LRESULT WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    void RouteMessage(TApdBaseDispatcher& dispatcher, UINT msg, WPARAM wParam, LPARAM lParam);
    bool HasTriggerHandlers() const;

    // Published properties.
    TDeviceLayer deviceLayer_ = dlWin32;
    std::uint16_t comNumber_ = 0;
    std::int32_t baud_ = 19200;
    bool promptForPort_ = true;
    TParity parity_ = pNone;
    std::uint16_t dataBits_ = 8;
    std::uint16_t stopBits_ = 1;
    std::uint16_t inSize_ = 4096;
    std::uint16_t outSize_ = 4096;
    bool autoOpen_ = true;
    bool open_ = false;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptionSet hwFlowOptions_;
    TSWFlowOptions swFlowOptions_ = swfNone;
    char xOnChar_ = 17;
    char xOffChar_ = 19;
    std::uint16_t bufferFull_ = 0;
    std::uint16_t bufferResume_ = 0;
    Recorder trace_;
    Recorder log_;
    bool useEventWord_ = true;
    std::uint16_t commNotificationLevel_ = 10;
    TTapiMode tapiMode_ = tmAuto;
    bool rs485Mode_ = false;
    std::int32_t tag_ = 0;

    TTriggerEvent onTrigger_;
    TTriggerAvailEvent onTriggerAvail_;
    TTriggerDataEvent onTriggerData_;
    TTriggerStatusEvent onTriggerStatus_;
    TTriggerTimerEvent onTriggerTimer_;
    TTriggerLineErrorEvent onTriggerLineError_;
    TNotifyEvent onTriggerModemStatus_;
    TNotifyEvent onTriggerOutbuffFree_;
    TNotifyEvent onTriggerOutbuffUsed_;
    TNotifyEvent onTriggerOutSent_;
    TWaitCharEvent onWaitChar_;
    TNotifyEvent onPortOpen_;
    TNotifyEvent onDeviceLost_;
    TNotifyEvent onPortClose_;

    // Internal state.
    ComPortState state_ = ComPortState::Closed;
    bool forceApply_ = false;
    bool reopenPending_ = false;
    bool openRequestedWhileLoading_ = false;
    std::unique_ptr<TApdBaseDispatcher> dispatcher_;
    std::unique_ptr<MessageWindow> portWindow_;
    std::shared_ptr<WindowLink> windowLink_;
    int windowProcDepth_ = 0; // the port window's procedure is running this deep
    int portThreadProc_ = 0;  // the dispatcher's procedure for ServeTriggersOnPortThread; 0: none
    struct PortThreadCalls;
    std::shared_ptr<PortThreadCalls> portThreadCalls_; // the calls of that procedure's handler
    std::uint8_t supportedLayers_ = 1u << dlWin32;
    TriggerSnapshot savedTriggers_;
    bool triggersSaved_ = false;
    std::uint16_t triggerLength_ = 1;
    std::uint8_t threadBoost_ = 0;
    std::uint16_t tapiNumber_ = 0;
    TDispatcherFactory dispatcherFactory_;
    std::vector<PortUser> portUsers_;
};

class TApdComPort : public TApdCustomComPort {
public:
    using TApdCustomComPort::TApdCustomComPort;
};
