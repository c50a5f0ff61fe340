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
#include "serial/guarded.h"
#include "serial/handler_list.h"
#include "serial/output_ring.h"
#include "serial/platform/message_window.h"
#include "serial/platform/signal.h"
#include "serial/platform/win32_types.h"
#include "serial/receive_ring.h"
#include "serial/trace_buffer.h"
#include "serial/trigger_table.h"

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
// Posted once, after the last pass of a device that went away (unplugged, hung up): its port
// can do nothing more but close.
constexpr UINT DeviceLostMessage = 0x7E0B;

constexpr DWORD ReceiveBufferSize = ReceiveRing::Size;

// PurgeQueue's side.
enum class QueueSide { Transmit, Receive };

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

// How often the device reported each kind of line error since the port opened; errors of one
// kind between two looks count once.
struct LineErrorCounts {
    DWORD Framing = 0;
    DWORD Parity = 0;
    DWORD Overrun = 0; // the driver's or the UART's
    DWORD Breaks = 0;
    bool operator==(const LineErrorCounts&) const = default;
};

// What the line reported: its error bits (CE_) gathered since they were last taken, the modem
// status (MS_ bits in the high nibble, the changes seen in the low one), and the errors' tally.
struct LineStatus {
    DWORD LineErrors = 0;
    DWORD ModemStatus = 0;
    LineErrorCounts Tally;
};

// How DTR and RTS are driven: by hand (on or off), or by the flow control.
struct LineDrive {
    bool DtrOn = false, DtrByFlow = false, RtsOn = false, RtsByFlow = false;
};

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
    virtual int PurgeQueue(QueueSide side) = 0;
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
    virtual void UpdateHandlerService(HandlerService service);

    // --- device hooks beyond the slots -------------------------------------------------------
    // The modem line states (MS_ bits), as GetCommModemStatus reports them; 0 when unknown.
    virtual DWORD ReadModemStatus() = 0;
    // The Windows error number of the device call that failed last (OpenDeviceHandle's -1,
    // SetQueueSizes' false).
    virtual DWORD LastDeviceError() = 0;
    // Called under ControlLock after PriorityBoost or Rs485Mode changed: the device subclass
    // maps ThreadPriorityLevel onto its threads. Does nothing here.
    virtual void ApplyThreadPriorities() {}
    // The line's error bits alone, as PollComError reports them, without the driver's queue
    // counts: the receive pass reads before it asks what is queued.
    virtual DWORD PollLineErrors() {
        COMSTAT status{};
        return PollComError(status);
    }

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
    bool DtrOn() { return drive_.Lock()->DtrOn; }
    bool DtrByFlow() { return drive_.Lock()->DtrByFlow; }
    bool RtsOn() { return drive_.Lock()->RtsOn; }
    bool RtsByFlow() { return drive_.Lock()->RtsByFlow; }
    // Waits for the output to leave the line before its settings change; a port that has sent
    // nothing since it opened has nothing on the line and does not wait.
    void WaitOutputDrained();
    // The device subclass calls this when it takes bytes to send.
    void NoteOutputQueued() { outputQueued_ = true; }
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
    DWORD AvailThreshold();

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
    // Up to count bytes as GetChar takes them, under one lock of the ring; returns how many.
    std::size_t GetChars(BYTE* into, std::size_t count);
    int PeekChar(DWORD n, BYTE& c);
    int FlushReceive();
    // As FlushReceive, but what the device holds stays there.
    void DropReceived();
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
    // The dispatch thread's wish on its way out, however it ends: ThreadFinished then releases
    // the resources.
    void SetTeardownOnExit() { teardownOnExit_ = true; }
    DWORD OutputUsed() { return output_.Lock()->Used(); }
    DWORD OutputFree() { return output_.Lock()->Free(); }

    // --- line status, flow control, priority, options ---------------------------------------
    DWORD RefreshModemStatus(DWORD mask);
    DWORD ModemStatus() { return line_.Lock()->ModemStatus; }
    DWORD LineErrors() { return line_.Lock()->LineErrors; }
    void RefreshModemStatusChanges();
    // Adds the device's error bits to LineErrors; returns the driver's receive count, or 0 when
    // it was not asked for.
    DWORD RefreshLineErrors(bool countQueued = true);
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

    // --- state the worker threads and the component look at ----------------------------------
    // The worker threads have not all ended.
    bool ThreadsActive() const { return threadsActive_; }
    int RunningThreads() const { return runningThreads_; }
    // The worker threads must end.
    bool StopRequested() const { return stopRequested_; }
    bool TeardownOnExit() const { return teardownOnExit_; }
    // The thread of that kind has not cleared its reference yet.
    bool ThreadRunning(DispatcherThreadKind kind);
    // The signals exist from an open until the dispatcher goes or opens again.
    bool HasSignals() const { return signals_ != nullptr; }
    bool Delivering() const { return delivering_; }
    bool ClosePending() const { return closePending_; }
    LineErrorCounts LineErrorTally();
    // The comm thread reports the events of its last wait; a ring among them is noted apart,
    // for the next modem status refresh.
    void NoteLineEvents(DWORD mask) { lastEventMask_ = mask; }
    void NoteRing() { ringSeen_ = true; }
    bool RingSeen() const { return ringSeen_; }
    // The comm thread saw the device go away, not closed by us.
    void NoteDeviceLost() { deviceLost_ = true; }
    bool DeviceLost() const { return deviceLost_; }
    // After the pass that took the lost device's last bytes: tells the handler windows, once.
    void PostDeviceLost();
    bool ReceiveFull() { return receive_.Lock()->Full(); }
    // The receive ring and the output buffer exist from an open until the resources are
    // released.
    bool HasReceiveBuffer() { return receive_.Lock()->Allocated(); }
    bool HasOutputBuffer() { return output_.Lock()->Allocated(); }
    // The receive ring has no room: reading more would only find the same bytes waiting.
    bool ReceiveRingFull() { return receive_.Lock()->NoRoom(); }
    // Received bytes a pass could not hand over yet.
    bool HasUnscanned() { return receive_.Lock()->Unscanned() > 0; }
    // A timer or status trigger waits for time to pass.
    bool TriggersArmed() { return triggers_.Lock()->AnyArmed(); }
    bool OwnerWantsEvents() { return handlers_.Lock()->OwnerWantsEvents(); }
    bool DeliverEvents() { return handlers_.Lock()->DeliverEvents(); }
    bool RemovalPending() { return handlers_.Lock()->RemovalPending(); }
    std::size_t HandlerWindowCount() { return handlers_.Lock()->Windows().size(); }

    // --- fields ------------------------------------------------------------------------------
    TApdCustomComPort* const Owner;
    int DispatcherNumber = -1;
    HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
    DWORD InQueueSize = 0;
    COMSTAT ComStatus; // OutputLock
    DCB LineState;     // ControlLock
    DWORD LastBaud = 115200;
    DWORD OptionFlags = 0;
    bool Rs485Mode = false;
    WORD UartBase = 0;
    BYTE PriorityBoost = 0; // ControlLock
    std::recursive_mutex ControlLock, OutputLock, ReceiveLock;
    bool OutputSentFlag = false; // ControlLock
    std::atomic<bool> TraceOn{false};
    TraceBuffer Trace; // ControlLock
    std::atomic<bool> LogOn{false};
    EventLog Log; // ControlLock
    DWORD TimeBase = 0;
    // How long a handler window may take to start on an event before the send is abandoned.
    std::atomic<int> SendTimeoutMs{DefaultSendTimeoutMs}; // may be changed while the threads run

    // Test hooks, for tests that drive the output path or a thread's end without an open: the
    // output buffer, the signals, and a lone dispatch thread counted in as if it were running.
    Guarded<OutputRing>& OutputForTest() { return output_; }
    void CreateSignalsForTest() { CreateSignals(); }
    void CountInDispatchThreadForTest();
    // Test hook: the line errors gathered, as if the device had reported them, for a dispatcher
    // on a real line.
    void SetLineErrorsForTest(DWORD bits) { line_.Lock()->LineErrors = bits; }

protected:
    // The signals between the worker threads and the rest of the dispatcher. Each has a heap
    // block of its own, as a Win32 event would.
    struct ThreadSignals {
        // A pass asked of the dispatch thread: triggers armed or added, the device gone.
        std::unique_ptr<Signal> CommEventSignal = std::make_unique<Signal>(false);
        // A worker thread started, stopped or saw a flush.
        std::unique_ptr<Signal> AckSignal = std::make_unique<Signal>(false);
        std::unique_ptr<Signal> OutputSignal = std::make_unique<Signal>(false); // output queued
        // The output thread's write completed.
        std::unique_ptr<Signal> WriteDoneSignal = std::make_unique<Signal>(true);
        // The queued output is being thrown away.
        std::unique_ptr<Signal> OutFlushSignal = std::make_unique<Signal>(false);
    };

    // Null until an open creates them, and again after an open that failed.
    ThreadSignals* Signals() { return signals_.get(); }
    // Wakes the dispatch thread for a pass.
    void WakeDispatch();
    // For the device subclass that starts and stops the threads.
    std::atomic<TApdDispatcherThread*>& ThreadReference(DispatcherThreadKind kind);
    // A thread set is about to start: count threads in, and no stop or teardown is asked for.
    void CountThreadsIn(int count);
    // Threads that never started; the last one out clears ThreadsActive.
    void CountThreadsOut(int count);
    void RequestStop() { stopRequested_ = true; }

    // The device subclass queues into it and writes it out.
    Guarded<OutputRing> output_{OutputLock};

private:
    // What a scan found: a match (its data events follow an optional offer of the bytes in
    // front of it), or the end of the received bytes (with an optional offer of them all).
    struct ScanOutcome {
        bool Matched = false;
        DWORD Offer = 0;          // characters-available count, 0 for none
        std::size_t Triggers = 0; // data triggers to look through for completed ones
    };

    int OpenSteps(const std::string& name, DWORD baud, int parity, int dataBits, int stopBits,
                  DWORD inSize, DWORD outSize, DWORD options);
    void ResetForOpen(DWORD inSize, DWORD outSize, DWORD options);
    // Only while no thread runs: the threads wait on the signals.
    void CreateSignals();
    void CloseSignals();
    ScanOutcome ScanForMatch(ReceiveRing& ring, TriggerTable& triggers);
    bool DeliverMatches(std::size_t triggers, bool result);
    // Starts a delivery; false when events are switched off.
    bool BeginDelivery(UINT msg, bool& serveWindows);
    // Runs every handler; false when a close was asked for meanwhile.
    bool ServeHandlers(UINT msg, WPARAM wParam, LPARAM lParam, bool serveWindows);
    template <typename Entry, typename Call>
    bool ServeEach(const std::vector<Entry>& (HandlerList::*entries)() const, Call call);
    bool EndDelivery(UINT msg, WPARAM wParam, bool completed);
    void CallHandler(const DispatcherHandlerProc& handler, bool onMainThread, UINT msg,
                     WPARAM wParam, LPARAM lParam);

    Guarded<ReceiveRing> receive_{ReceiveLock};
    Guarded<TriggerTable> triggers_{ControlLock};
    Guarded<LineStatus> line_{ControlLock};
    Guarded<LineDrive> drive_{ControlLock};
    std::atomic<DWORD> lastEventMask_{0};
    std::atomic<bool> ringSeen_{false};
    Guarded<HandlerList> handlers_{ControlLock};
    std::atomic<bool> delivering_{false};   // an event is being delivered
    std::atomic<bool> closePending_{false}; // a close was asked for during a delivery
    std::atomic<bool> deviceLost_{false};
    std::atomic<bool> outputQueued_{false};
    bool deviceLostPosted_ = false; // under the passes' lock
    // Replaced only while no thread runs: the threads wait on the signals.
    std::unique_ptr<ThreadSignals> signals_;
    std::atomic<TApdDispatcherThread*> comThread_{nullptr}, dispThread_{nullptr},
        outThread_{nullptr};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> threadsActive_{false};
    std::atomic<bool> teardownOnExit_{false};
    std::atomic<int> runningThreads_{0};
};
