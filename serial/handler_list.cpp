#include "serial/handler_list.h"

#include <algorithm>

namespace {

template <typename Entries, typename Same>
void RemoveEntry(Entries& entries, Same same, bool delivering, bool& pending) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const auto& e) { return !e.Removed && same(e); });
    if (it == entries.end())
        return;
    if (delivering) {
        it->Removed = true;
        pending = true;
    } else {
        entries.erase(it);
    }
}

} // namespace

void HandlerList::AddWindow(HWND window) {
    windows_.push_back({window, false});
    deliverEvents_ = true;
}

int HandlerList::AddProc(DispatcherHandlerProc proc) {
    const int id = nextId_++;
    procs_.push_back({id, std::move(proc), false});
    deliverEvents_ = true;
    return id;
}

int HandlerList::AddMethod(DispatcherHandlerProc method, bool onMainThread) {
    const int id = nextId_++;
    methods_.push_back({id, std::move(method), false, onMainThread});
    deliverEvents_ = true;
    return id;
}

void HandlerList::RemoveWindow(HWND window, bool delivering) {
    RemoveEntry(
        windows_, [window](const auto& e) { return e.Window == window; }, delivering,
        removalPending_);
}

void HandlerList::RemoveProc(int id, bool delivering) {
    RemoveEntry(
        procs_, [id](const auto& e) { return e.Id == id; }, delivering, removalPending_);
}

void HandlerList::RemoveMethod(int id, bool delivering) {
    RemoveEntry(
        methods_, [id](const auto& e) { return e.Id == id; }, delivering, removalPending_);
}

void HandlerList::SweepRemoved() {
    if (!removalPending_)
        return;
    auto sweep = [](auto& entries) {
        std::erase_if(entries, [](const auto& e) { return e.Removed; });
    };
    sweep(windows_);
    sweep(procs_);
    sweep(methods_);
    removalPending_ = false;
    Update(HandlerService::Recompute);
}

void HandlerList::Update(HandlerService service) {
    const bool others = windows_.size() > 1 || !procs_.empty() || !methods_.empty();
    switch (service) {
    case HandlerService::Recompute:
        deliverEvents_ = others || ownerWantsEvents_;
        break;
    case HandlerService::OwnerHasHandlers:
        ownerWantsEvents_ = true;
        deliverEvents_ = true;
        break;
    case HandlerService::OwnerHasNone:
        ownerWantsEvents_ = false;
        deliverEvents_ = others;
        break;
    }
}

HWND HandlerList::PassWindow() const {
    // Procedures and methods that run on the dispatch thread keep running there.
    const bool workerHandlers =
        !procs_.empty() || std::any_of(methods_.begin(), methods_.end(),
                                       [](const auto& e) { return !e.Removed && !e.OnMainThread; });
    return workerHandlers ? NullWindow : OwnerWindow();
}

HWND HandlerList::OwnerWindow() const {
    for (const auto& entry : windows_)
        if (!entry.Removed)
            return entry.Window;
    return NullWindow;
}
