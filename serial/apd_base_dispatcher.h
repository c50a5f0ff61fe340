#pragma once
// The device-independent part of a port's dispatcher: the 8192-byte receive ring, the output
// buffer, the cached line settings, the triggers and the handlers that hear about them. A device
// subclass fills the device slots and runs the worker threads that call RunCommPass and
// RunTimerPass; events go to the handler windows as messages sent to the GUI thread.
//
// Locks, always taken in this order when nested: ReceiveLock, then OutputLock, then ControlLock.
// No lock is held while an event is being delivered.

#include "serial/apd_exceptions.h"
#include "serial/event_log.h"
#include "serial/platform/message_window.h"
#include "serial/platform/signal.h"
#include "serial/platform/win32_types.h"
#include "serial/trace_buffer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TApdCustomComPort;
class TApdDispatcherThread; // defined by the device subclass that runs the threads
struct OverlappedBlock;     // defined by the device subclass that waits for line events

// Event messages sent to the handler windows; lParam = DispatcherNumber * 65536 + low word.
constexpr UINT TriggerAvailMessage = 0x7E01;
constexpr UINT TriggerDataMessage = 0x7E02;
constexpr UINT TriggerTimerMessage = 0x7E03;
constexpr UINT TriggerStatusMessage = 0x7E04;
constexpr UINT ClosePendingMessage = 0x7E0A;

constexpr DWORD ReceiveBufferSize = 8192;
constexpr DWORD MaxTriggerLength = 21;

// Status trigger kinds, also carried in the low three bits of a status trigger's handle.
enum StatusTriggerType : DWORD {
    stNotActive = 0,
    stModem = 1,
    stLine = 2,
    stOutFree = 3,
    stOutUsed = 4,
    stOutSent = 5
};

struct DataTriggerRecord {
    DWORD Handle = 0;
    DWORD Length = 0;                   // 0..21; 0 never matches
    std::array<DWORD, 22> MatchState{}; // slot i: bytes matched by candidate i, 0 = idle
    bool Idle = true;                   // every match slot is 0
    bool Matched = false;               // completed, event still to be delivered
    bool IgnoreCase = false;
    std::array<BYTE, MaxTriggerLength> Pattern{}; // upper-cased when IgnoreCase
};

struct StatusTriggerRecord {
    DWORD Handle = 0;
    DWORD Type = stNotActive;
    WORD Value = 0; // modem: low byte reference, high byte mask; line: error bits; out: byte count
    bool Armed = false;
    bool Fired = false;
};

struct TimerTriggerRecord {
    DWORD Handle = 0;
    DWORD StartTick = 0; // ticks of 55 ms
    DWORD ExpiryTick = 0;
    bool Armed = false;
};

struct HandlerWindowEntry {
    HWND Window = NullWindow;
    bool Removed = false;
};

// A procedure called on the dispatch thread for every event.
using DispatcherHandlerProc = std::function<void(UINT msg, WPARAM wParam, LPARAM lParam)>;

struct HandlerProcEntry {
    int Id = 0;
    DispatcherHandlerProc Proc;
    bool Removed = false;
};

// A method called for every event, on the GUI thread when OnMainThread is set.
struct HandlerMethodEntry {
    int Id = 0;
    DispatcherHandlerProc Method;
    bool Removed = false;
    bool OnMainThread = false;
};

// The triggers a port takes with it across a close and reopen.
struct TriggerSnapshot {
    DWORD AvailThreshold = 0;
    std::vector<TimerTriggerRecord> TimerTriggers;
    std::vector<DataTriggerRecord> DataTriggers;
    std::vector<StatusTriggerRecord> StatusTriggers;
};

struct LineParams {
    DWORD Baud = 0;
    int Parity = NOPARITY;
    int DataBits = 8;
    int StopBits = 1;
};

struct FlowOptions {
    DWORD Hardware = 0; // 0x01 DTR handshake, 0x02 RTS handshake, 0x04 DSR, 0x08 CTS required
    DWORD Software = 0; // 0x01 obey XON/XOFF (transmit), 0x02 send XON/XOFF (receive)
    BYTE XonChar = 17;
    BYTE XoffChar = 19;
};

enum class DispatcherThreadKind { Comm, Dispatch, Output };

class TApdBaseDispatcher {
public:
    // Result codes of this class. -8 is the negated Windows error; -5001 has no class of its own.
    static constexpr int ecOutOfMemory = -static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
    static constexpr int ecBadArgument = EBadArgument::Code;
    static constexpr int ecBufferIsEmpty = EBufferIsEmpty::Code;
    static constexpr int ecNoMoreTriggers = -5001;
    static constexpr int ecTriggerTooLong = ETriggerTooLong::Code;
    static constexpr int ecBadTriggerHandle = EBadTriggerHandle::Code;

    // OpenComm option bits.
    static constexpr DWORD optDtrOn = 0x01, optRtsOn = 0x02, optDtrByFlow = 0x10,
                           optRtsByFlow = 0x20;

    static constexpr int DefaultSendTimeoutMs = 3000;

    explicit TApdBaseDispatcher(TApdCustomComPort* owner);
    TApdBaseDispatcher(const TApdBaseDispatcher&) = delete;
    TApdBaseDispatcher& operator=(const TApdBaseDispatcher&) = delete;
    // Unregisters and frees the records. The device must already be closed: the most derived
    // class's destructor calls CloseForDestroy, since device slots cannot be called from here.
    virtual ~TApdBaseDispatcher();

    // --- the virtual slots, in slot order 0..17 -------------------------------------------
    // Device operations, filled by the device subclass; ReleaseResources (10), SetPriorityBoost
    // (16) and UpdateHandlerService (17) are implemented here.
    virtual int EscapeLine(DWORD function) = 0;
    virtual int PurgeQueue(int side) = 0; // 0 transmit side, else receive side
    virtual DWORD PollComError(COMSTAT& status) = 0;
    virtual void NoteReadError(int code) = 0;
    virtual int ReadComState(DCB& dcb) = 0;
    virtual int ReadBlock(BYTE* destination, DWORD count) = 0;
    virtual int WriteComState(const DCB& dcb) = 0;
    virtual int QueueOutput(const BYTE* bytes, DWORD count) = 0;
    virtual bool WaitLineEvent(DWORD& mask, OverlappedBlock* overlapped) = 0;
    virtual bool SetQueueSizes(DWORD inSize, DWORD outSize) = 0;
    virtual void ReleaseResources();
    virtual void StartThreads() = 0;
    virtual void StopThreads() = 0;
    virtual HANDLE OpenDeviceHandle(const std::string& name, DWORD inSize, DWORD outSize) = 0;
    virtual int CloseDeviceHandle() = 0;
    virtual int YieldSlice() = 0;
    virtual void SetPriorityBoost(BYTE boost);
    virtual void UpdateHandlerService(int kind); // 0 recompute, 1 owner has handlers, 2 has none

    // --- device hooks beyond the slots -------------------------------------------------------
    // The modem line states (MS_ bits), as GetCommModemStatus reports them; 0 when unknown.
    virtual DWORD ReadModemStatus() = 0;
    // The Windows error number of the device call that failed last (OpenDeviceHandle's -1,
    // SetQueueSizes' false).
    virtual DWORD LastDeviceError() = 0;
    // Called under ControlLock after PriorityBoost or Rs485Mode changed: the device subclass
    // maps ThreadPriorityLevel onto its threads. Does nothing here.
    virtual void ApplyThreadPriorities() {}

    // --- open and close ----------------------------------------------------------------------
    int OpenComm(const std::string& name, DWORD baud, int parity, int dataBits, int stopBits,
                 DWORD inSize, DWORD outSize, DWORD options);
    void CloseComm();
    // The close that precedes destruction: finishes a pending close or closes now.
    void CloseForDestroy();

    // --- line settings -----------------------------------------------------------------------
    int SetLineParams(DWORD baud, int parity, int dataBits, int stopBits);
    int GetLineParams(LineParams& params);
    int ChangeQueueSizes(DWORD inSize, DWORD outSize);
    int SetDtr(bool on);
    int SetRts(bool on);
    void WaitOutputDrained();
    int ApplyLineState();
    // Milliseconds that 18 characters take at these settings (stop code as in the DCB).
    static DWORD DrainDelayMs(DWORD baud, int dataBits, int parity, int stopCode);
    // The rate for a LastBaud value, which may be one of the driver's baud codes.
    static DWORD BaudFromCode(DWORD code);

    // --- triggers ----------------------------------------------------------------------------
    int AddDataTrigger(const BYTE* pattern, DWORD length, bool ignoreCase);
    int RemoveTrigger(DWORD handle);
    void SetAvailThreshold(DWORD count);
    void SnapshotTriggers(TriggerSnapshot& snapshot);
    void RestoreTriggers(const TriggerSnapshot& snapshot);
    static void FreeTriggerSnapshot(TriggerSnapshot& snapshot);
    DWORD NewTriggerHandle();
    static bool MatchDataTrigger(DataTriggerRecord& trigger, BYTE b);
    // Windows-1252 upper case of one byte, as CharUpperBuffA does it.
    static BYTE CharUpperAnsi(BYTE b);

    // --- handlers ----------------------------------------------------------------------------
    void RegisterHandlerWindow(HWND window);
    void DeregisterHandlerWindow(HWND window);
    // Returns an id for deregistration.
    int RegisterHandlerProc(DispatcherHandlerProc proc);
    int RegisterHandlerMethod(DispatcherHandlerProc method, bool onMainThread);
    void DeregisterHandlerProc(int id);
    void DeregisterHandlerMethod(int id);

    // --- taking bytes ------------------------------------------------------------------------
    int GetChar(BYTE& c);
    int PeekChar(DWORD n, BYTE& c);
    int FlushReceive();
    int FlushTransmit();
    DWORD UnreadCount();   // under ReceiveLock, without read-ahead adjustment
    DWORD ReceivedCount(); // less what the current handler has read ahead

    // --- the worker threads' passes ----------------------------------------------------------
    void RunCommPass();
    void RunTimerPass();
    // Runs a pass's deliveries on the thread of the first handler window (directly when there is
    // none, or when called there). False when that thread did not take them up in time.
    bool RunWhereHandlersRun(const std::function<void()>& work);
    bool FillReceiveBuffer();
    bool ScanReceiveTriggers();
    bool CheckStatusTriggers();
    bool CheckTimerTriggers();
    bool DeliverEvent(UINT msg, WPARAM wParam, WORD lowWord);
    // A worker thread's last act: clears its reference, lets the dispatch thread release the
    // resources when TeardownOnExit is set, and counts the thread out.
    void ThreadFinished(DispatcherThreadKind kind);
    DWORD OutputUsed();
    DWORD OutputFree();

    // --- line status, flow control, priority, options ---------------------------------------
    DWORD RefreshModemStatus(DWORD mask);
    void RefreshModemStatusChanges();
    // Adds the device's error bits to LineErrors; returns the driver's receive count.
    DWORD RefreshLineErrors();
    int TakeLineError();
    bool TakeLineBreak();
    int SetHardwareFlow(DWORD full, DWORD resume, DWORD options);
    int SetSoftwareFlow(DWORD full, DWORD resume, DWORD options);
    int ClearSoftwareFlow();
    int SetFlowChars(BYTE xon, BYTE xoff);
    int GetFlowOptions(FlowOptions& options);
    void SetRs485Mode(bool on);
    void SetOptionFlags(DWORD bits);
    void ClearOptionFlags(DWORD bits);
    // Priority of a worker thread on the scale 0 idle, 1 lowest, 2 lower, 3 normal, 4 higher,
    // 5 highest, 6 time-critical.
    int ThreadPriorityLevel(bool outputThread);

    // --- trace and event log -----------------------------------------------------------------
    int StartTrace(DWORD capacity);
    int ClearTrace();
    void DiscardTrace();
    void ResumeTrace();
    void PauseTrace();
    int DumpTrace(const std::string& fileName, bool append, bool hex, bool allHex);
    void AddTraceEntry(char code, BYTE b);
    void StartLog(DWORD size);
    void ClearLog();
    void DiscardLog();
    void ResumeLog();
    void PauseLog();
    int DumpLog(const std::string& fileName, bool append, bool hex, bool allHex);
    void LogEvent(BYTE type, BYTE subtype, DWORD value, const BYTE* bytes = nullptr,
                  DWORD count = 0);

    // The millisecond clock (wraps like GetTickCount).
    static DWORD TickCount();

    // --- fields ------------------------------------------------------------------------------
    TApdCustomComPort* const Owner;
    int DispatcherNumber = -1;
    HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
    DWORD LineErrors = 0; // ControlLock
    DWORD InQueueSize = 0;
    DWORD OutBufferSize = 0;
    DWORD ModemStatus = 0; // ControlLock
    COMSTAT ComStatus;     // OutputLock
    DCB LineState;         // ControlLock
    DWORD LastBaud = 115200;
    DWORD OptionFlags = 0;
    bool DtrOn = false, DtrByFlow = false, RtsOn = false, RtsByFlow = false;
    bool Rs485Mode = false;
    WORD UartBase = 0;
    bool OwnerWantsEvents = false, DeliverEvents = false; // ControlLock
    std::vector<HandlerWindowEntry> HandlerWindows;       // ControlLock
    std::vector<HandlerProcEntry> HandlerProcs;
    std::vector<HandlerMethodEntry> HandlerMethods;
    std::vector<TimerTriggerRecord> TimerTriggers; // ControlLock
    std::vector<DataTriggerRecord> DataTriggers;
    std::vector<StatusTriggerRecord> StatusTriggers;
    DWORD ScanPos = 0;        // ReceiveLock
    DWORD Unscanned = 0;      // ReceiveLock: bytes from ScanPos on not yet scanned
    DWORD AvailThreshold = 0; // ControlLock
    bool StatusHit = false;   // ControlLock
    bool ReadAhead = false;   // ReceiveLock
    int ReadAheadCount = 0;   // ReceiveLock
    DWORD MaxReadAhead = 0;   // ReceiveLock
    bool ReceiveFull = false; // ReceiveLock
    DWORD AvailNotifyPos = 0; // ReceiveLock
    bool AvailNotifyFull =
        false; // ReceiveLock: the last offer was of a full ring, nothing taken since
    std::atomic<bool> StopRequested{false};
    std::atomic<TApdDispatcherThread*> ComThread{nullptr}, DispThread{nullptr}, OutThread{nullptr};
    BYTE PriorityBoost = 0; // ControlLock
    std::recursive_mutex ControlLock, OutputLock, ReceiveLock;
    std::unique_ptr<Signal> CommEventSignal, ReadySignal, AckSignal, OutputSignal, WriteDoneSignal,
        OutFlushSignal; // null when closed
    std::atomic<DWORD> LastEventMask{0};
    std::atomic<bool> RingSeen{false};
    std::unique_ptr<BYTE[]> OutBuffer; // OutputLock
    DWORD OutHead = 0, OutTail = 0;
    bool OutFull = false;
    std::unique_ptr<BYTE[]> ReceiveBuffer; // ReceiveLock
    DWORD ReceiveHead = 0, ReceiveTail = 0;
    std::atomic<bool> Delivering{false};
    bool RemovalPending = false; // ControlLock
    std::atomic<bool> ClosePending{false};
    bool OutputSentFlag = false; // ControlLock
    std::atomic<bool> TraceOn{false};
    TraceBuffer Trace; // ControlLock
    std::atomic<bool> LogOn{false};
    EventLog Log; // ControlLock
    DWORD TimeBase = 0;
    DWORD NextHandleSeq = 1; // ControlLock
    std::atomic<bool> ThreadsActive{false}, TeardownOnExit{false};
    std::atomic<int> RunningThreads{0};
    // How long a handler window may take to start on an event before the send is abandoned.
    std::atomic<int> SendTimeoutMs{DefaultSendTimeoutMs}; // may be changed while the threads run

private:
    // Only while no thread runs: the threads wait on the signals.
    void CloseSignals();
    void ClearTriggers();
    void ClearStatusFired();
    bool HandleInUse(DWORD handle) const;
    // The following four expect ReceiveLock held.
    DWORD UnreadLocked() const;
    int PeekLocked(DWORD n, BYTE& c) const;
    DWORD UnreadThrough(DWORD position) const;
    void AdvanceTail(DWORD count);
    void CallHandler(const DispatcherHandlerProc& handler, bool onMainThread, UINT msg,
                     WPARAM wParam, LPARAM lParam);
    void RemoveMarkedHandlers();
    int RestartTrace(DWORD capacity);

    int nextHandlerId_ = 1;
};
