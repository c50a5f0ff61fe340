#pragma once
// A value that can be reached only while a given lock is held: Lock() returns a handle that holds
// the lock for as long as it lives and leads to the value. Several values may share one lock.

#include <mutex>

template <typename T> class Guarded {
public:
    class Access {
    public:
        T* operator->() const { return value_; }
        T& operator*() const { return *value_; }

    private:
        friend class Guarded;
        Access(T& value, std::recursive_mutex& mutex) : lock_(mutex), value_(&value) {}

        std::unique_lock<std::recursive_mutex> lock_;
        T* value_;
    };

    explicit Guarded(std::recursive_mutex& mutex) : mutex_(mutex) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    Access Lock() { return Access(value_, mutex_); }
    std::recursive_mutex& Mutex() const { return mutex_; }

private:
    std::recursive_mutex& mutex_;
    T value_{};
};
