#pragma once
// The dispatcher of a COM port on the platform's comm calls: the device slots, and the three
// worker threads that keep an open port live. The comm thread waits for line events and hands
// each one to the dispatch thread, which runs the dispatch passes and delivers their events; the
// output thread writes queued output to the device.

#include "runtime/stall_watch.h"
#include "serial/apd_base_dispatcher.h"
#include "serial/platform/comm_api.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TApdWin32Dispatcher;

// The overlapped block a worker thread waits on.
struct OverlappedBlock {
    OVERLAPPED Overlapped;
};

// A worker thread of a dispatcher. The body runs on its own std::thread; its last act is
// ThreadFinished, which clears the dispatcher's reference to it. The dispatcher joins the
// std::thread only after that, so a stopper never waits on a thread handle, only on the
// reference, as it pumps the GUI thread's messages.
class TApdDispatcherThread {
public:
    TApdDispatcherThread(TApdWin32Dispatcher& dispatcher, DispatcherThreadKind kind);
    TApdDispatcherThread(const TApdDispatcherThread&) = delete;
    TApdDispatcherThread& operator=(const TApdDispatcherThread&) = delete;
    virtual ~TApdDispatcherThread();

    void Start();
    // Waits for the body's last instructions; only after the reference was cleared.
    void Join();

    // Gives up a thread that is away from the port, writing report files after its pass: it
    // touches nothing of its dispatcher again, and ends by deleting its object, whose std::thread
    // is detached. False when it is not away.
    bool GiveUp();

protected:
    virtual void Execute() = 0;
    // Runs the work that the pass left for afterwards, away from the port; false when the thread
    // was given up meanwhile, and must end at once.
    bool RunAway(std::vector<std::function<void()>>& work);
    TApdWin32Dispatcher& Dispatcher;

private:
    void Run();

    enum class Place { AtPort, AwayFromPort, GivenUp };
    const DispatcherThreadKind kind_;
    std::mutex awayLock_;
    Place away_ = Place::AtPort; // awayLock_
    std::thread thread_;
};

class TComThread : public TApdDispatcherThread {
public:
    explicit TComThread(TApdWin32Dispatcher& dispatcher);

protected:
    void Execute() override;
};

class TDispThread : public TApdDispatcherThread {
public:
    explicit TDispThread(TApdWin32Dispatcher& dispatcher);

protected:
    void Execute() override;
};

class TOutThread : public TApdDispatcherThread {
public:
    explicit TOutThread(TApdWin32Dispatcher& dispatcher);

protected:
    void Execute() override;
};

class TApdWin32Dispatcher : public TApdBaseDispatcher {
public:
    static constexpr int StartAckTimeoutMs = 3000;
    // The comm event mask of the NT family, and the one with the ring trailing edge.
    static constexpr DWORD NtEventMask = 0x01F9;
    static constexpr DWORD RingTrailingEdgeMask = 0x21F9;

    explicit TApdWin32Dispatcher(TApdCustomComPort* owner);
    // Closes the port (or finishes a pending close) and waits for the threads to be gone.
    ~TApdWin32Dispatcher() override;

    // --- device slots --------------------------------------------------------------------------
    int EscapeLine(DWORD function) override;                                                // 0
    int PurgeQueue(QueueSide side) override;                                                // 1
    DWORD PollComError(COMSTAT& status) override;                                           // 2
    void NoteReadError(int code) override;                                                  // 3
    int ReadComState(DCB& dcb) override;                                                    // 4
    int ReadBlock(BYTE* destination, DWORD count) override;                                 // 5
    int WriteComState(const DCB& dcb) override;                                             // 6
    int QueueOutput(const BYTE* bytes, DWORD count) override;                               // 7
    bool WaitLineEvent(DWORD& mask, OverlappedBlock* overlapped) override;                  // 8
    bool SetQueueSizes(DWORD inSize, DWORD outSize) override;                               // 9
    void StartThreads() override;                                                           // 11
    void StopThreads() override;                                                            // 12
    HANDLE OpenDeviceHandle(const std::string& name, DWORD inSize, DWORD outSize) override; // 13
    int CloseDeviceHandle() override;                                                       // 14
    int YieldSlice() override;                                                              // 15
    DWORD ReadModemStatus() override;
    DWORD PollLineErrors() override;
    DWORD LastDeviceError() override;

    // Writes what the output buffer holds, one contiguous run per write; a wrapped buffer is
    // rotated to start at index 0 first. The block must be a WriteBlock. Run by the output
    // thread.
    void DrainOutput(OverlappedBlock& block);
    // The block the output thread writes with: its event is WriteDoneSignal.
    OverlappedBlock WriteBlock();

    // The open device's handle as the worker threads use it; -1 when none.
    HANDLE Handle() const { return handle_; }

    // The read block of ReadBlock; its event is the read signal while the device is open.
    OVERLAPPED ReadOverlapped; // ReceiveLock

private:
    friend class TApdDispatcherThread;
    friend class TComThread;
    friend class TDispThread;
    friend class TOutThread;

    // The device's error bits, and its queue counts when status is given; a device that is gone
    // is noted as lost.
    DWORD ClearDeviceErrors(COMSTAT* status);
    // Output bytes written: the tail moves on, an emptied buffer starts again at 0.
    void AdvanceOutput(DWORD count);
    // What the worker threads' bodies do with the signals.
    void Acknowledge(); // started, stopping, or a flush seen
    void WaitForCommEvent(int timeoutMs);
    // A comm pass and a timer pass, on the comm thread after its event or on the dispatch
    // thread; never two at once.
    void RunPasses();
    // True for queued output, false for a flush.
    bool WaitForOutputOrFlush();
    // Something only time can move on: received bytes not yet scanned, or an armed timer or
    // status trigger. Without one the dispatch thread waits for the next comm event.
    bool NeedsPeriodicPass();
    // Polls a thread's reference until the thread cleared it, pumping the GUI thread's messages
    // meanwhile when called there (the thread may be sending an event to a window of it).
    static void WaitForThreadEnd(const std::atomic<TApdDispatcherThread*>& reference);
    // Joins the thread objects whose bodies have ended; never the calling thread's own.
    void JoinEndedThreads();

    // Stops a comm thread that is away, and has been for too long, from holding up a stop.
    void GiveUpStalledCommThread();

    std::recursive_mutex passLock_;
    // While the comm thread writes a report file that stalls, the dispatch thread reads the port.
    std::atomic<bool> commAway_{false};
    std::atomic<bool> rescue_{false};
    StallWatch commStall_;
    std::atomic<HANDLE> handle_{INVALID_HANDLE_VALUE};
    std::atomic<DWORD> lastError_{ERROR_SUCCESS};
    std::unique_ptr<Signal> readSignal_; // ReceiveLock
    // Serialises StartThreads and StopThreads. Not ControlLock: a dispatch pass that is still
    // running needs ControlLock to finish, and the stopper waits for it to finish.
    std::recursive_mutex threadLock_;
    // The thread objects, joined before they are replaced (threadLock_).
    std::unique_ptr<TApdDispatcherThread> comObject_, dispObject_, outObject_;
};
