#include "serial/dispatcher_registry.h"

#include <vector>

namespace {

struct Registry {
    std::recursive_mutex Mutex;
    std::vector<TApdBaseDispatcher*> Slots;
};

Registry& Instance() {
    static auto* registry = new Registry; // outlives dispatchers destroyed during exit
    return *registry;
}

} // namespace

std::recursive_mutex& DispatcherRegistry::Lock() {
    return Instance().Mutex;
}

int DispatcherRegistry::Add(TApdBaseDispatcher* dispatcher) {
    auto& r = Instance();
    std::lock_guard lock(r.Mutex);
    for (std::size_t i = 0; i < r.Slots.size(); ++i) {
        if (r.Slots[i] == nullptr) {
            r.Slots[i] = dispatcher;
            return static_cast<int>(i);
        }
    }
    r.Slots.push_back(dispatcher);
    return static_cast<int>(r.Slots.size() - 1);
}

void DispatcherRegistry::Remove(int number) {
    auto& r = Instance();
    std::lock_guard lock(r.Mutex);
    if (number < 0 || static_cast<std::size_t>(number) >= r.Slots.size())
        return;
    r.Slots[number] = nullptr;
    while (!r.Slots.empty() && r.Slots.back() == nullptr)
        r.Slots.pop_back();
}

TApdBaseDispatcher* DispatcherRegistry::Find(int number) {
    auto& r = Instance();
    std::lock_guard lock(r.Mutex);
    if (number < 0 || static_cast<std::size_t>(number) >= r.Slots.size())
        return nullptr;
    return r.Slots[number];
}

std::size_t DispatcherRegistry::Size() {
    auto& r = Instance();
    std::lock_guard lock(r.Mutex);
    return r.Slots.size();
}
