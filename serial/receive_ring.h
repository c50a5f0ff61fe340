#pragma once
// A dispatcher's receive ring: 8192 bytes between the device and the handlers. Bytes go in at
// the head, are scanned for triggers from the scan position and are taken at the tail. A byte is
// never overwritten before it has been both scanned and taken, so a read that fills the whole
// ring still gets every byte scanned. Inside an event's delivery the handlers read ahead from the
// tail, and only the delivery's end moves it, by the largest take.
//
// Not thread-safe by itself: the dispatcher reaches it only through its ReceiveLock.

#include "serial/platform/win32_types.h"

#include <memory>

class ReceiveRing {
public:
    static constexpr DWORD Size = 8192;

    // A contiguous stretch of the ring.
    struct Window {
        BYTE* Bytes = nullptr;
        DWORD Count = 0;
        DWORD Position = 0; // ring index of Bytes[0]
    };

    // The buffer exists between an open and the release of its resources; every position is 0
    // after Allocate.
    void Allocate();
    void Release();
    bool Allocated() const { return buffer_ != nullptr; }

    // --- counts ------------------------------------------------------------------------------
    // Bytes between tail and head: Size when head meets tail on a full ring, else 0 there.
    DWORD Unread() const;
    // Unread less what the current handler has read ahead.
    DWORD Received() const;
    // Unread bytes from the tail up to and including position; 0 for a position already taken.
    DWORD UnreadThrough(DWORD position) const;
    bool Full() const { return full_; }
    DWORD Unscanned() const { return unscanned_; }
    // Nothing more can be put in: reading the device would only find the same bytes waiting.
    bool NoRoom() const;
    // Bytes that can be put in now without overwriting bytes unread or unscanned.
    DWORD Room() const;

    // --- putting bytes in --------------------------------------------------------------------
    // The free stretch that starts at the head, up to the ring's end or the oldest byte kept.
    Window WriteWindow();
    // count bytes were written at the head (at most WriteWindow().Count).
    void Commit(DWORD count);
    // Copies up to Room() bytes in, across the end of the ring; returns how many went in.
    DWORD Put(const BYTE* bytes, DWORD count);

    // --- scanning ----------------------------------------------------------------------------
    // The unscanned stretch that starts at the scan position, up to the ring's end.
    Window ScanWindow();
    void MarkScanned(DWORD count);
    DWORD ScanPosition() const { return scanPos_; }

    // Characters-available offers; each returns the count to offer, or 0 for none. A match at
    // position offers the unread bytes in front of its longest pattern, once per position.
    DWORD OfferBeforeMatch(DWORD position, DWORD longest, DWORD threshold);
    // At the end of a scan: everything received, unless that was offered already. A full ring is
    // offered again once bytes have been taken, even when its head is back where the last offer
    // was made; otherwise reception would stop for good.
    DWORD OfferRest(DWORD threshold);

    // --- taking bytes ------------------------------------------------------------------------
    // The n-th unread byte (1 = at the tail), without read-ahead adjustment.
    bool Peek(DWORD n, BYTE& c) const;
    // The next byte: inside a delivery the next one this handler has not read ahead yet,
    // otherwise the byte at the tail, which is then taken.
    bool Take(BYTE& c);
    void AdvanceTail(DWORD count);
    // Drops every unread byte; inside a delivery its end does so.
    void Flush();

    // --- a delivery's read-ahead --------------------------------------------------------------
    void BeginDelivery(bool readAhead);
    void BeginHandler() { readAheadCount_ = 0; }
    void EndHandler();
    // Ends the read-ahead; when consume is set the tail moves by the largest take, which is
    // returned.
    DWORD EndDelivery(bool consume);

private:
    DWORD Occupied() const;

    std::unique_ptr<BYTE[]> buffer_;
    DWORD head_ = 0; // where the next byte from the device goes
    DWORD tail_ = 0; // the next unread byte
    bool full_ = false;
    DWORD scanPos_ = 0;   // the next byte to scan; scanPos_ + unscanned_ = head_ (mod Size)
    DWORD unscanned_ = 0; // bytes from scanPos_ on not yet scanned
    bool readAhead_ = false;
    DWORD readAheadCount_ = 0;     // bytes the current handler has read ahead
    DWORD maxReadAhead_ = 0;       // the largest take of any handler of this delivery
    DWORD availNotifyPos_ = 0;     // scan position of the last characters-available offer
    bool availNotifyFull_ = false; // that offer was of a full ring, nothing taken since
};
