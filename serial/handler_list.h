#pragma once
// Who hears a dispatcher's events: handler windows (the port component's own window first),
// procedures run on the dispatch thread, and methods run there or on the GUI thread. Entries
// removed during a delivery are only marked until it ends, so that the delivery's walk over the
// lists stays valid.
//
// Not thread-safe by itself: the dispatcher reaches it only through its ControlLock.

#include "serial/platform/message_window.h"
#include "serial/platform/win32_types.h"

#include <functional>
#include <vector>

// A procedure called on the dispatch thread for every event.
using DispatcherHandlerProc = std::function<void(UINT msg, WPARAM wParam, LPARAM lParam)>;

struct HandlerWindowEntry {
    HWND Window = NullWindow;
    bool Removed = false;
};

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

// UpdateHandlerService's request.
enum class HandlerService {
    Recompute,        // after handler entries changed
    OwnerHasHandlers, // the port component has trigger event handlers
    OwnerHasNone      // it has none
};

class HandlerList {
public:
    void AddWindow(HWND window);
    // Returns an id for removal.
    int AddProc(DispatcherHandlerProc proc);
    int AddMethod(DispatcherHandlerProc method, bool onMainThread);
    // While delivering, an entry is only marked removed. Unknown ones are ignored.
    void RemoveWindow(HWND window, bool delivering);
    void RemoveProc(int id, bool delivering);
    void RemoveMethod(int id, bool delivering);
    // After a delivery: deletes the marked entries and recomputes the service.
    void SweepRemoved();
    // A fresh open forgets a removal still pending; its entries stay marked.
    void ResetRemovalPending() { removalPending_ = false; }

    // The component's own window is served only while it wants events or others are there.
    void Update(HandlerService service);
    bool DeliverEvents() const { return deliverEvents_; }
    bool OwnerWantsEvents() const { return ownerWantsEvents_; }
    bool ServeWindows() const { return windows_.size() > 1 || ownerWantsEvents_; }
    bool RemovalPending() const { return removalPending_; }

    // The window on whose thread a pass's deliveries run; none while a procedure or a method
    // bound to the dispatch thread must run there.
    HWND PassWindow() const;
    // The first window still listed: the port component's own, which hears of a lost device.
    HWND OwnerWindow() const;

    const std::vector<HandlerWindowEntry>& Windows() const { return windows_; }
    const std::vector<HandlerProcEntry>& Procs() const { return procs_; }
    const std::vector<HandlerMethodEntry>& Methods() const { return methods_; }

private:
    std::vector<HandlerWindowEntry> windows_;
    std::vector<HandlerProcEntry> procs_;
    std::vector<HandlerMethodEntry> methods_;
    bool ownerWantsEvents_ = false;
    bool deliverEvents_ = false;
    bool removalPending_ = false;
    int nextId_ = 1;
};
