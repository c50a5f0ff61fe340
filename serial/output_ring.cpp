#include "serial/output_ring.h"

#include <algorithm>
#include <cstring>

void OutputRing::Allocate(DWORD size) {
    buffer_ = std::make_unique<BYTE[]>(size);
    size_ = size;
    head_ = tail_ = 0;
    full_ = false;
}

void OutputRing::Release() {
    buffer_.reset();
}

DWORD OutputRing::Used() const {
    if (full_)
        return size_;
    if (tail_ < head_)
        return head_ - tail_;
    if (head_ < tail_)
        return size_ + head_ - tail_;
    return 0;
}

DWORD OutputRing::Put(const BYTE* bytes, DWORD count) {
    if (!buffer_ || size_ == 0)
        return 0;
    count = std::min(count, Free());
    const DWORD first = std::min(count, size_ - head_);
    std::memcpy(buffer_.get() + head_, bytes, first);
    std::memcpy(buffer_.get(), bytes + first, count - first);
    head_ = (head_ + count) % size_;
    if (count > 0 && head_ == tail_)
        full_ = true;
    return count;
}

OutputRing::Run OutputRing::NextRun() {
    if (!buffer_ || (!full_ && head_ == tail_))
        return {};
    DWORD count = 0;
    if (head_ > tail_) {
        count = head_ - tail_;
    } else if (head_ == 0) {
        count = size_ - tail_;
    } else {
        // Wrapped: rotate so that the bytes start at index 0 and go out in one write.
        BYTE* buffer = buffer_.get();
        std::rotate(buffer, buffer + tail_, buffer + size_);
        head_ += size_ - tail_;
        tail_ = 0;
        count = head_;
        if (head_ == size_)
            head_ = 0; // a full buffer: head and tail meet at 0
    }
    return {buffer_.get() + tail_, count};
}

void OutputRing::Advance(DWORD count) {
    if (count == 0)
        return;
    tail_ += count;
    if (tail_ >= size_)
        tail_ = 0;
    if (tail_ == head_)
        head_ = tail_ = 0;
    full_ = false;
}

void OutputRing::Flush() {
    full_ = false;
    head_ = tail_ = 0;
}
