#pragma once
// The process-wide list of open dispatchers. A dispatcher's index is its DispatcherNumber, which
// travels in the high word of every event message's lParam; the port window looks the dispatcher
// up by it, holding Lock() while it handles the event.

#include <cstddef>
#include <mutex>

class TApdBaseDispatcher;

class DispatcherRegistry {
public:
    // Re-entrant: a handler holding it may close a port and open another.
    static std::recursive_mutex& Lock();
    // Takes the first empty slot, else appends; returns the slot's index.
    static int Add(TApdBaseDispatcher* dispatcher);
    // Empties the slot, then drops the empty slots at the end.
    static void Remove(int number);
    // The dispatcher with this number, or null. The caller holds Lock() while it uses it.
    static TApdBaseDispatcher* Find(int number);
    static std::size_t Size();
};
