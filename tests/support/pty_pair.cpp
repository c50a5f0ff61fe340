#include "tests/support/pty_pair.h"

#include "serial/platform/port_map.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair(int comNumber) : comNumber_(comNumber) {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    slavePath_ = name;
    // The master's own line discipline is raw from the start. Its settings are left alone: on
    // Linux a settings request on the master goes to the slave, and the slave's settings belong to
    // the serial layer under test.
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    SetPortDevice(comNumber_, slavePath_);
}

PtyPair::~PtyPair() {
    ClearPortDevice(comNumber_);
    Close();
    if (slave_ >= 0)
        close(slave_);
}

std::string PtyPair::DeviceName() const {
    return "\\\\.\\COM" + std::to_string(comNumber_);
}

bool PtyPair::Write(const std::string& bytes, std::chrono::milliseconds patience) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ADD_FAILURE() << "writing the master: " << std::strerror(errno);
            return false;
        }
        pollfd room{master_, POLLOUT, 0};
        if (poll(&room, 1, static_cast<int>(patience.count())) == 0) {
            ADD_FAILURE() << "the slave took no more bytes after " << sent << " of "
                          << bytes.size();
            return false;
        }
    }
    return true;
}

std::size_t PtyPair::WriteSome(const std::string& bytes) {
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::string PtyPair::Read(std::size_t count, std::chrono::milliseconds patience) {
    std::string got;
    while (got.size() < count) {
        pollfd ready{master_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(patience.count())) <= 0)
            break;
        const std::string more = ReadAvailable();
        if (more.empty() && (ready.revents & (POLLHUP | POLLERR)))
            break;
        got += more;
    }
    return got;
}

std::string PtyPair::ReadAvailable() {
    std::string got;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

void PtyPair::Close() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

std::size_t PtyPair::Unread() const {
    int count = 0;
    return slave_ >= 0 && ioctl(slave_, FIONREAD, &count) == 0 ? static_cast<std::size_t>(count)
                                                               : 0;
}

unsigned PtyPair::BaudSetting() const {
    termios settings{};
    return slave_ >= 0 && tcgetattr(slave_, &settings) == 0
               ? static_cast<unsigned>(cfgetispeed(&settings))
               : 0;
}
