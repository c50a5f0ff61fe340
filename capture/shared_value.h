#pragma once

#include <atomic>

// A value that the GUI thread sets and a port's thread reads where report lines complete (or the
// other way round). Copyable, so that what holds it stays movable; relaxed, since each value
// stands alone.
template <class T> class SharedValue {
public:
    SharedValue(T value = T()) : value_(value) {}
    SharedValue(const SharedValue& other) : value_(other.Load()) {}
    SharedValue& operator=(const SharedValue& other) {
        Store(other.Load());
        return *this;
    }

    T Load() const { return value_.load(std::memory_order_relaxed); }
    void Store(T value) { value_.store(value, std::memory_order_relaxed); }

private:
    std::atomic<T> value_;
};
