// The receive ring: filling it from the device, scanning it for triggers, taking bytes from it.
#include "serial/apd_base_dispatcher.h"

#include <algorithm>

DWORD TApdBaseDispatcher::UnreadLocked() const {
    if (ReceiveHead > ReceiveTail)
        return ReceiveHead - ReceiveTail;
    if (ReceiveHead < ReceiveTail)
        return ReceiveHead + ReceiveBufferSize - ReceiveTail;
    return ReceiveFull ? ReceiveBufferSize : 0;
}

DWORD TApdBaseDispatcher::UnreadThrough(DWORD position) const {
    const DWORD before = (position + ReceiveBufferSize - ReceiveTail) % ReceiveBufferSize;
    // A position the tail has already passed has nothing unread up to it.
    return before < UnreadLocked() ? before + 1 : 0;
}

void TApdBaseDispatcher::AdvanceTail(DWORD count) {
    if (count == 0)
        return;
    ReceiveTail = (ReceiveTail + count) % ReceiveBufferSize;
    ReceiveFull = false;
    AvailNotifyFull = false;
}

DWORD TApdBaseDispatcher::UnreadCount() {
    std::lock_guard lock(ReceiveLock);
    return UnreadLocked();
}

DWORD TApdBaseDispatcher::ReceivedCount() {
    std::lock_guard lock(ReceiveLock);
    const DWORD unread = UnreadLocked();
    if (!ReadAhead)
        return unread;
    return unread - std::min<DWORD>(unread, static_cast<DWORD>(std::max(ReadAheadCount, 0)));
}

bool TApdBaseDispatcher::FillReceiveBuffer() {
    std::lock_guard lock(ReceiveLock);
    if (!ReceiveBuffer)
        return false;
    if (ReceiveFull)
        return true;
    const DWORD pending = RefreshLineErrors();
    if (pending == 0)
        return false;
    // Bytes not yet scanned are kept like unread ones, so a read never overwrites them and a
    // read that fills the whole ring still gets every byte scanned.
    const DWORD occupied = std::max(UnreadLocked(), Unscanned);
    if (occupied == ReceiveBufferSize)
        return true;
    const DWORD start = (ReceiveHead + ReceiveBufferSize - occupied) % ReceiveBufferSize;
    const DWORD free = ReceiveBufferSize - occupied;
    const DWORD first = start > ReceiveHead ? start - ReceiveHead : ReceiveBufferSize - ReceiveHead;
    const DWORD want = std::min(free, pending);
    DWORD second = first < want ? want - first : 0;

    auto read = [this](DWORD count) {
        BYTE* at = ReceiveBuffer.get() + ReceiveHead;
        int got = ReadBlock(at, count);
        if (got < 0) {
            // A failed read brings nothing; counting its error code as bytes would put garbage
            // into the stream.
            NoteReadError(-1);
            got = 0;
        }
        const DWORD n = std::min(static_cast<DWORD>(got), count);
        LogEvent(ltDispatch, lsReadCom, n, at, n);
        ReceiveHead = (ReceiveHead + n) % ReceiveBufferSize;
        Unscanned += n;
        if (n > 0)
            ReceiveFull = ReceiveHead == ReceiveTail;
        return n;
    };
    if (read(first) < first)
        second = 0;
    if (second > 0)
        read(second);
    return true;
}

bool TApdBaseDispatcher::ScanReceiveTriggers() {
    std::unique_lock receive(ReceiveLock);
    std::unique_lock control(ControlLock);
    if (!ReceiveBuffer)
        return false;
    DWORD p = ScanPos;
    while (Unscanned > 0) {
        const BYTE b = ReceiveBuffer[p];
        bool hit = false;
        DWORD longest = 0;
        for (auto& trigger : DataTriggers) {
            if (trigger.Length == 0)
                continue;
            if (!trigger.Matched)
                trigger.Matched = MatchDataTrigger(trigger, b);
            if (trigger.Matched) {
                longest = std::max(longest, trigger.Length);
                hit = true;
            }
        }
        if (!hit) {
            p = (p + 1) % ReceiveBufferSize;
            --Unscanned;
            continue;
        }

        // Bytes in front of the match first, then the match itself.
        const long long before = static_cast<long long>(UnreadThrough(p)) - longest;
        const bool offer = AvailThreshold > 0 && AvailNotifyPos != p && before >= AvailThreshold;
        if (offer) {
            AvailNotifyPos = p;
            AvailNotifyFull = false;
            LogEvent(ltTrigger, lsAvail, static_cast<DWORD>(before));
        }
        ScanPos = (p + 1) % ReceiveBufferSize;
        --Unscanned;
        std::size_t index = DataTriggers.size();
        control.unlock();
        receive.unlock();

        bool result = true;
        if (offer)
            result = DeliverEvent(TriggerAvailMessage, static_cast<WPARAM>(before), 0);
        while (!ClosePending) {
            DWORD handle = 0;
            WORD length = 0;
            {
                std::lock_guard lock(ControlLock);
                index = std::min(index, DataTriggers.size());
                if (index == 0)
                    break;
                auto& trigger = DataTriggers[--index];
                if (!trigger.Matched)
                    continue;
                trigger.Matched = false;
                handle = trigger.Handle;
                length = static_cast<WORD>(trigger.Length);
                LogEvent(ltTrigger, lsData, handle);
            }
            result = DeliverEvent(TriggerDataMessage, handle, length);
        }
        return result;
    }
    ScanPos = p;

    const DWORD unread = UnreadLocked();
    const DWORD count =
        ReadAhead ? unread - std::min<DWORD>(unread, static_cast<DWORD>(ReadAheadCount)) : unread;
    // A full ring is offered again once bytes have been taken, even when its head is back where
    // the last offer was made; otherwise reception would stop for good.
    const bool fresh = AvailNotifyPos != p || (ReceiveFull && !AvailNotifyFull);
    if (AvailThreshold == 0 || !fresh || count < AvailThreshold)
        return false;
    AvailNotifyPos = p;
    AvailNotifyFull = ReceiveFull;
    LogEvent(ltTrigger, lsAvail, count);
    control.unlock();
    receive.unlock();
    return DeliverEvent(TriggerAvailMessage, count, 0);
}

int TApdBaseDispatcher::PeekLocked(DWORD n, BYTE& c) const {
    if (!ReceiveBuffer || n == 0 || n > UnreadLocked())
        return ecBufferIsEmpty;
    c = ReceiveBuffer[(ReceiveTail + n - 1) % ReceiveBufferSize];
    return 0;
}

int TApdBaseDispatcher::PeekChar(DWORD n, BYTE& c) {
    std::lock_guard lock(ReceiveLock);
    return PeekLocked(n, c);
}

int TApdBaseDispatcher::GetChar(BYTE& c) {
    std::lock_guard lock(ReceiveLock);
    if (ReadAhead) {
        // Inside an event: every handler sees the same bytes; the delivery moves the tail.
        ++ReadAheadCount;
        if (const int result = PeekLocked(static_cast<DWORD>(ReadAheadCount), c); result < 0) {
            --ReadAheadCount;
            return result;
        }
    } else {
        if (const int result = PeekLocked(1, c); result < 0)
            return result;
        AdvanceTail(1);
    }
    if (TraceOn)
        AddTraceEntry('R', c);
    return 0;
}

int TApdBaseDispatcher::FlushReceive() {
    std::lock_guard lock(ReceiveLock);
    const int result = PurgeQueue(1);
    if (ReadAhead) {
        MaxReadAhead = UnreadLocked();
    } else {
        ReceiveTail = ReceiveHead;
        ReadAheadCount = 0;
    }
    ReceiveFull = false;
    AvailNotifyFull = false;
    std::lock_guard control(ControlLock);
    for (auto& trigger : DataTriggers) {
        trigger.MatchState.fill(0);
        trigger.Idle = true;
    }
    return result;
}

int TApdBaseDispatcher::FlushTransmit() {
    return PurgeQueue(0);
}
