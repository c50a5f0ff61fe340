// The receive ring: filling it from the device, scanning it for triggers, taking bytes from it.
#include "serial/apd_base_dispatcher.h"

#include <algorithm>

DWORD TApdBaseDispatcher::UnreadCount() {
    return receive_.Lock()->Unread();
}

DWORD TApdBaseDispatcher::ReceivedCount() {
    return receive_.Lock()->Received();
}

bool TApdBaseDispatcher::FillReceiveBuffer() {
    auto ring = receive_.Lock();
    if (!ring->Allocated())
        return false;
    if (ring->Full())
        return true;

    // A read asks for the whole free stretch up to the ring's end: the device read returns at
    // once with what is there. Only when it filled that stretch is the rest read into the
    // ring's start.
    auto read = [&](DWORD count) {
        BYTE* at = ring->WriteWindow().Bytes;
        const int got = ReadBlock(at, count);
        // A failed read brings nothing; counting its error code as bytes would put garbage into
        // the stream.
        if (got < 0)
            NoteReadError(-1);
        const DWORD n = got < 0 ? 0 : std::min(static_cast<DWORD>(got), count);
        // A read that found nothing, made before asking whether anything was there, is no event.
        if (n > 0 || got < 0)
            LogEvent(ltDispatch, lsReadCom, n, at, n);
        ring->Commit(n);
        return n;
    };
    // The read comes before the ask for the driver's count, which costs a system call on every
    // pass: only a read that found nothing asks it, and so tells a quiet device from one that
    // has gone, as the ask reports a device that hung up. Either way the line's errors are
    // taken once.
    const DWORD first = ring->WriteWindow().Count;
    DWORD got = read(first);
    if (got > 0)
        RefreshLineErrors(false);
    else if (RefreshLineErrors() == 0)
        return false;
    else
        got = read(first);
    if (got == first && !ring->Full())
        read(ring->WriteWindow().Count);
    return true;
}

bool TApdBaseDispatcher::ScanReceiveTriggers() {
    ScanOutcome outcome;
    {
        auto ring = receive_.Lock();
        auto triggers = triggers_.Lock();
        if (!ring->Allocated())
            return false;
        outcome = ScanForMatch(*ring, *triggers);
    }
    if (!outcome.Matched)
        return outcome.Offer > 0 && DeliverEvent(TriggerAvailMessage, outcome.Offer, 0);
    // Bytes in front of the match first, then the match itself.
    const bool result = outcome.Offer == 0 || DeliverEvent(TriggerAvailMessage, outcome.Offer, 0);
    return DeliverMatches(outcome.Triggers, result);
}

TApdBaseDispatcher::ScanOutcome TApdBaseDispatcher::ScanForMatch(ReceiveRing& ring,
                                                                 TriggerTable& triggers) {
    const DWORD threshold = triggers.AvailThreshold();
    while (ring.Unscanned() > 0) {
        const ReceiveRing::Window window = ring.ScanWindow();
        const TriggerTable::Scan found = triggers.ScanData(window.Bytes, window.Count);
        if (!found.Matched) {
            ring.MarkScanned(window.Count);
            continue;
        }
        const DWORD offer =
            ring.OfferBeforeMatch(window.Position + found.Index, found.Longest, threshold);
        if (offer > 0)
            LogEvent(ltTrigger, lsAvail, offer);
        ring.MarkScanned(found.Index + 1);
        return {true, offer, triggers.DataCount()};
    }
    const DWORD offer = ring.OfferRest(threshold);
    if (offer > 0)
        LogEvent(ltTrigger, lsAvail, offer);
    return {false, offer, 0};
}

bool TApdBaseDispatcher::DeliverMatches(std::size_t triggers, bool result) {
    // From the last trigger to the first; a handler may shrink the list meanwhile.
    while (!closePending_) {
        DWORD handle = 0;
        WORD length = 0;
        {
            auto table = triggers_.Lock();
            if (!table->TakeMatched(triggers, handle, length))
                break;
            LogEvent(ltTrigger, lsData, handle);
        }
        result = DeliverEvent(TriggerDataMessage, handle, length);
    }
    return result;
}

int TApdBaseDispatcher::PeekChar(DWORD n, BYTE& c) {
    return receive_.Lock()->Peek(n, c) ? 0 : ecBufferIsEmpty;
}

int TApdBaseDispatcher::GetChar(BYTE& c) {
    auto ring = receive_.Lock();
    if (!ring->Take(c))
        return ecBufferIsEmpty;
    if (TraceOn)
        AddTraceEntry('R', c);
    return 0;
}

std::size_t TApdBaseDispatcher::GetChars(BYTE* into, std::size_t count) {
    auto ring = receive_.Lock();
    std::size_t taken = 0;
    for (; taken < count && ring->Take(into[taken]); ++taken)
        if (TraceOn)
            AddTraceEntry('R', into[taken]);
    return taken;
}

int TApdBaseDispatcher::FlushReceive() {
    auto ring = receive_.Lock();
    const int result = PurgeQueue(QueueSide::Receive);
    ring->Flush();
    triggers_.Lock()->ResetMatches();
    return result;
}

void TApdBaseDispatcher::DropReceived() {
    auto ring = receive_.Lock();
    ring->Flush();
    triggers_.Lock()->ResetMatches();
}

int TApdBaseDispatcher::FlushTransmit() {
    return PurgeQueue(QueueSide::Transmit);
}
