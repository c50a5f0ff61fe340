#include "serial/receive_ring.h"

#include <algorithm>
#include <cstring>

void ReceiveRing::Allocate() {
    buffer_ = std::make_unique<BYTE[]>(Size);
    head_ = tail_ = scanPos_ = unscanned_ = availNotifyPos_ = 0;
    readAheadCount_ = maxReadAhead_ = 0;
    full_ = readAhead_ = availNotifyFull_ = false;
}

void ReceiveRing::Release() {
    buffer_.reset();
}

DWORD ReceiveRing::Unread() const {
    if (head_ > tail_)
        return head_ - tail_;
    if (head_ < tail_)
        return head_ + Size - tail_;
    return full_ ? Size : 0;
}

DWORD ReceiveRing::Received() const {
    const DWORD unread = Unread();
    return readAhead_ ? unread - std::min(unread, readAheadCount_) : unread;
}

DWORD ReceiveRing::UnreadThrough(DWORD position) const {
    const DWORD before = (position + Size - tail_) % Size;
    return before < Unread() ? before + 1 : 0;
}

DWORD ReceiveRing::Occupied() const {
    // Bytes not yet scanned are kept like unread ones.
    return std::max(Unread(), unscanned_);
}

bool ReceiveRing::NoRoom() const {
    return full_ || Occupied() >= Size;
}

DWORD ReceiveRing::Room() const {
    return Size - Occupied();
}

ReceiveRing::Window ReceiveRing::WriteWindow() {
    const DWORD occupied = Occupied();
    if (!buffer_ || occupied == Size)
        return {nullptr, 0, head_};
    const DWORD oldest = (head_ + Size - occupied) % Size;
    const DWORD count = oldest > head_ ? oldest - head_ : Size - head_;
    return {buffer_.get() + head_, count, head_};
}

void ReceiveRing::Commit(DWORD count) {
    if (count == 0)
        return;
    head_ = (head_ + count) % Size;
    unscanned_ += count;
    full_ = head_ == tail_;
}

DWORD ReceiveRing::Put(const BYTE* bytes, DWORD count) {
    DWORD done = 0;
    while (done < count) {
        const Window w = WriteWindow();
        const DWORD n = std::min(w.Count, count - done);
        if (n == 0)
            break;
        std::memcpy(w.Bytes, bytes + done, n);
        Commit(n);
        done += n;
    }
    return done;
}

ReceiveRing::Window ReceiveRing::ScanWindow() {
    if (!buffer_)
        return {nullptr, 0, scanPos_};
    return {buffer_.get() + scanPos_, std::min(unscanned_, Size - scanPos_), scanPos_};
}

void ReceiveRing::MarkScanned(DWORD count) {
    count = std::min(count, unscanned_);
    scanPos_ = (scanPos_ + count) % Size;
    unscanned_ -= count;
}

DWORD ReceiveRing::OfferBeforeMatch(DWORD position, DWORD longest, DWORD threshold) {
    const long long before = static_cast<long long>(UnreadThrough(position)) - longest;
    if (threshold == 0 || availNotifyPos_ == position || before < threshold)
        return 0;
    availNotifyPos_ = position;
    availNotifyFull_ = false;
    return static_cast<DWORD>(before);
}

DWORD ReceiveRing::OfferRest(DWORD threshold) {
    const DWORD count = Received();
    const bool fresh = availNotifyPos_ != scanPos_ || (full_ && !availNotifyFull_);
    if (threshold == 0 || !fresh || count < threshold)
        return 0;
    availNotifyPos_ = scanPos_;
    availNotifyFull_ = full_;
    return count;
}

bool ReceiveRing::Peek(DWORD n, BYTE& c) const {
    if (!buffer_ || n == 0 || n > Unread())
        return false;
    c = buffer_[(tail_ + n - 1) % Size];
    return true;
}

bool ReceiveRing::Take(BYTE& c) {
    if (readAhead_) {
        // Every handler of a delivery sees the same bytes; the delivery moves the tail.
        if (!Peek(readAheadCount_ + 1, c))
            return false;
        ++readAheadCount_;
        return true;
    }
    if (!Peek(1, c))
        return false;
    AdvanceTail(1);
    return true;
}

void ReceiveRing::AdvanceTail(DWORD count) {
    if (count == 0)
        return;
    tail_ = (tail_ + count) % Size;
    full_ = false;
    availNotifyFull_ = false;
}

void ReceiveRing::Flush() {
    if (readAhead_) {
        maxReadAhead_ = Unread();
    } else {
        tail_ = head_;
        readAheadCount_ = 0;
    }
    full_ = false;
    availNotifyFull_ = false;
}

void ReceiveRing::BeginDelivery(bool readAhead) {
    maxReadAhead_ = 0;
    readAhead_ = readAhead;
}

void ReceiveRing::EndHandler() {
    maxReadAhead_ = std::max(maxReadAhead_, readAheadCount_);
}

DWORD ReceiveRing::EndDelivery(bool consume) {
    readAhead_ = false;
    if (!consume)
        return 0;
    AdvanceTail(maxReadAhead_);
    return maxReadAhead_;
}
