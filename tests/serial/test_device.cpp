#include "tests/serial/test_device.h"

#include <algorithm>
#include <cstring>
#include <utility>

void TestDevice::Feed(const std::string& chunk) {
    std::lock_guard lock(mutex_);
    chunks_.push_back(chunk);
}

std::size_t TestDevice::Pending() {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& c : chunks_)
        n += c.size();
    return n;
}

void TestDevice::ReportLineErrors(DWORD bits) {
    std::lock_guard lock(mutex_);
    lineErrors_ |= bits;
}

void TestDevice::SetModemLines(DWORD lines) {
    std::lock_guard lock(mutex_);
    modemLines_ = lines;
}

void TestDevice::FailReadNumber(int n) {
    std::lock_guard lock(mutex_);
    failRead_ = n;
}

DCB TestDevice::Dcb() const {
    std::lock_guard lock(mutex_);
    return dcb_;
}

int TestDevice::DcbWrites() const {
    std::lock_guard lock(mutex_);
    return dcbWrites_;
}

std::vector<DWORD> TestDevice::Escapes() const {
    std::lock_guard lock(mutex_);
    return escapes_;
}

int TestDevice::ReadErrors() const {
    std::lock_guard lock(mutex_);
    return readErrors_;
}

int TestDevice::DeviceCloses() const {
    std::lock_guard lock(mutex_);
    return closes_;
}

int TestDevice::EscapeLine(DWORD function) {
    std::lock_guard lock(mutex_);
    escapes_.push_back(function);
    return EscapeFails ? -1 : 0;
}

int TestDevice::PurgeQueue(QueueSide side) {
    std::lock_guard lock(mutex_);
    if (side == QueueSide::Receive)
        chunks_.clear();
    return 0;
}

DWORD TestDevice::PollComError(COMSTAT& status) {
    std::lock_guard lock(mutex_);
    status.cbInQue = chunks_.empty() ? 0 : static_cast<DWORD>(chunks_.front().size());
    return std::exchange(lineErrors_, 0);
}

void TestDevice::NoteReadError(int) {
    std::lock_guard lock(mutex_);
    ++readErrors_;
}

int TestDevice::ReadComState(DCB& dcb) {
    std::lock_guard lock(mutex_);
    dcb = dcb_;
    return 0;
}

int TestDevice::ReadBlock(BYTE* destination, DWORD count) {
    std::lock_guard lock(mutex_);
    if (failRead_ > 0 && --failRead_ == 0)
        return -1;
    if (chunks_.empty())
        return 0;
    auto& chunk = chunks_.front();
    const std::size_t n = std::min<std::size_t>(count, chunk.size());
    std::memcpy(destination, chunk.data(), n);
    chunk.erase(0, n);
    if (chunk.empty())
        chunks_.pop_front();
    return static_cast<int>(n);
}

int TestDevice::WriteComState(const DCB& dcb) {
    std::lock_guard lock(mutex_);
    if (WriteResult < 0)
        return WriteResult;
    dcb_ = dcb;
    ++dcbWrites_;
    return 0;
}

bool TestDevice::SetQueueSizes(DWORD, DWORD) {
    return !QueueSizesFail;
}

HANDLE TestDevice::OpenDeviceHandle(const std::string&, DWORD, DWORD) {
    return OpenResult;
}

int TestDevice::CloseDeviceHandle() {
    std::lock_guard lock(mutex_);
    ++closes_;
    DeviceHandle = INVALID_HANDLE_VALUE;
    return 0;
}

DWORD TestDevice::ReadModemStatus() {
    std::lock_guard lock(mutex_);
    return modemLines_;
}
