#pragma once
// A dispatcher's output buffer: bytes queued for the device go in at the head and are written
// out from the tail, one contiguous run per write. A buffer that empties starts again at 0, so
// that the next bytes go out in as few writes as possible.
//
// Not thread-safe by itself: the dispatcher reaches it only through its OutputLock.

#include "serial/platform/win32_types.h"

#include <memory>

class OutputRing {
public:
    // The bytes the next write sends.
    struct Run {
        const BYTE* Bytes = nullptr;
        DWORD Count = 0;
    };

    // The buffer exists between an open and the release of its resources; it is empty after
    // Allocate.
    void Allocate(DWORD size);
    void Release();
    bool Allocated() const { return buffer_ != nullptr; }
    DWORD Size() const { return size_; }

    DWORD Used() const;
    DWORD Free() const { return size_ - Used(); }
    bool Full() const { return full_; }
    DWORD Head() const { return head_; }
    DWORD Tail() const { return tail_; }

    // Copies in as many bytes as fit, across the end of the buffer; returns how many went in.
    // More would overwrite bytes still to be sent.
    DWORD Put(const BYTE* bytes, DWORD count);
    // Everything queued, as one run: a wrapped buffer is rotated to start at index 0 first. The
    // run stays valid until Advance or Flush; Put does not touch it.
    Run NextRun();
    // count bytes of the run were written (or dropped): the tail moves on.
    void Advance(DWORD count);
    // Drops every byte queued.
    void Flush();

    // Test hooks: an empty buffer whose head and tail stand at position, as no open leaves it,
    // and the buffer's bytes from index 0.
    void StartEmptyAtForTest(DWORD position) { head_ = tail_ = position; }
    const BYTE* BytesForTest() const { return buffer_.get(); }

private:
    std::unique_ptr<BYTE[]> buffer_;
    DWORD size_ = 0;
    DWORD head_ = 0; // where the next queued byte goes
    DWORD tail_ = 0; // the next byte to send
    bool full_ = false;
};
