#include "runtime/signal_delivery.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void PassSignalOn(int number) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalDelivery::SignalDelivery(std::initializer_list<int> numbers,
                               std::function<void(int)> delivered)
    : numbers_(numbers), delivered_(std::move(delivered)) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    news_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(news_.get(), &QSocketNotifier::activated, [this] {
        unsigned char number = 0;
        while (::read(signalPipe[0], &number, 1) == 1)
            delivered_(number);
    });
    struct sigaction action {};
    action.sa_handler = PassSignalOn;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ok_ = true;
    for (const int number : numbers_)
        ok_ = sigaction(number, &action, nullptr) == 0 && ok_;
}

SignalDelivery::~SignalDelivery() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int number : numbers_)
        sigaction(number, &action, nullptr);
}
