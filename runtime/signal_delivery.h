#pragma once
// Signals handled in the event loop: the handler only writes the signal's number into a pipe, and
// the thread that made the delivery reads it there and runs the callback, where anything may be
// done. While a delivery lives, it is the one for its signals; they get their default action back
// when it goes.

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

class QSocketNotifier;

class SignalDelivery {
public:
    SignalDelivery(std::initializer_list<int> numbers, std::function<void(int)> delivered);
    ~SignalDelivery();
    SignalDelivery(const SignalDelivery&) = delete;
    SignalDelivery& operator=(const SignalDelivery&) = delete;

    // False when the pipe or a handler could not be set up (errno tells why).
    bool Ok() const { return ok_; }

private:
    std::vector<int> numbers_;
    std::function<void(int)> delivered_;
    std::unique_ptr<QSocketNotifier> news_;
    bool ok_ = false;
};
