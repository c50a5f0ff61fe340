// Trigger records: handles, adding and removing, matching, snapshots.
#include "serial/apd_base_dispatcher.h"

#include <algorithm>

namespace {

constexpr DWORD FirstSearchedSeq = 4096;
constexpr DWORD LargestHandle = 0xFFF8; // handles travel as 16-bit values

} // namespace

bool TApdBaseDispatcher::HandleInUse(DWORD handle) const {
    // A status trigger's handle carries its type in the low three bits.
    auto same = [handle](const auto& r) { return (r.Handle & ~DWORD{7}) == handle; };
    return std::any_of(TimerTriggers.begin(), TimerTriggers.end(), same) ||
           std::any_of(StatusTriggers.begin(), StatusTriggers.end(), same) ||
           std::any_of(DataTriggers.begin(), DataTriggers.end(), same);
}

DWORD TApdBaseDispatcher::NewTriggerHandle() {
    std::lock_guard lock(ControlLock);
    // Restored triggers keep their old handles while the sequence restarts at every open; a
    // handle one of them holds is skipped so that no two triggers share a handle.
    while (NextHandleSeq < FirstSearchedSeq) {
        const DWORD handle = NextHandleSeq++ * 8;
        if (!HandleInUse(handle))
            return handle;
    }
    for (DWORD handle = 8; handle <= LargestHandle; handle += 8)
        if (!HandleInUse(handle))
            return handle;
    return 0;
}

BYTE TApdBaseDispatcher::CharUpperAnsi(BYTE b) {
    if (b >= 'a' && b <= 'z')
        return static_cast<BYTE>(b - 0x20);
    if (b >= 0xE0 && b <= 0xFE && b != 0xF7)
        return static_cast<BYTE>(b - 0x20);
    switch (b) {
    case 0x9A:
        return 0x8A;
    case 0x9C:
        return 0x8C;
    case 0x9E:
        return 0x8E;
    case 0xFF:
        return 0x9F;
    default:
        return b;
    }
}

int TApdBaseDispatcher::AddDataTrigger(const BYTE* pattern, DWORD length, bool ignoreCase) {
    if (length > MaxTriggerLength)
        return ecTriggerTooLong;
    std::lock_guard lock(ControlLock);
    DataTriggerRecord record;
    record.Handle = NewTriggerHandle();
    if (record.Handle == 0)
        return ecNoMoreTriggers;
    record.Length = length;
    record.IgnoreCase = ignoreCase;
    std::copy_n(pattern, length, record.Pattern.begin());
    if (ignoreCase)
        for (DWORD i = 0; i < length; ++i)
            record.Pattern[i] = CharUpperAnsi(record.Pattern[i]);
    DataTriggers.push_back(record);
    LogEvent(ltAllocTrigger, lsDataTrigger, record.Handle, pattern, length);
    return static_cast<int>(record.Handle);
}

int TApdBaseDispatcher::RemoveTrigger(DWORD handle) {
    std::lock_guard lock(ControlLock);
    if (handle == 1) {
        AvailThreshold = 0;
        return 0;
    }
    if (handle < 2)
        return ecBadTriggerHandle;
    auto removeFrom = [&](auto& records, BYTE subtype) {
        auto it = std::find_if(records.begin(), records.end(),
                               [handle](const auto& r) { return r.Handle == handle; });
        if (it == records.end())
            return false;
        records.erase(it);
        LogEvent(ltDisposeTrigger, subtype, handle);
        return true;
    };
    if (removeFrom(TimerTriggers, lsTimerTrigger) || removeFrom(StatusTriggers, lsStatusTrigger) ||
        removeFrom(DataTriggers, lsDataTrigger))
        return 0;
    return ecBadTriggerHandle;
}

void TApdBaseDispatcher::SetAvailThreshold(DWORD count) {
    std::lock_guard lock(ControlLock);
    AvailThreshold = count;
    LogEvent(ltTriggerSetting, lsAvailTrigger, count);
}

void TApdBaseDispatcher::ClearTriggers() {
    AvailThreshold = 0;
    TimerTriggers.clear();
    DataTriggers.clear();
    StatusTriggers.clear();
    NextHandleSeq = 1;
}

void TApdBaseDispatcher::ClearStatusFired() {
    for (auto& record : StatusTriggers)
        record.Fired = false;
}

void TApdBaseDispatcher::SnapshotTriggers(TriggerSnapshot& snapshot) {
    std::lock_guard lock(ControlLock);
    snapshot.AvailThreshold = AvailThreshold;
    snapshot.TimerTriggers = TimerTriggers;
    snapshot.DataTriggers = DataTriggers;
    snapshot.StatusTriggers = StatusTriggers;
}

void TApdBaseDispatcher::RestoreTriggers(const TriggerSnapshot& snapshot) {
    std::lock_guard lock(ControlLock);
    AvailThreshold = snapshot.AvailThreshold;
    TimerTriggers = snapshot.TimerTriggers;
    DataTriggers = snapshot.DataTriggers;
    StatusTriggers = snapshot.StatusTriggers;
    // An idle dispatch thread waits for comm events only; armed timers need it to look again.
    if (CommEventSignal)
        CommEventSignal->Set();
}

void TApdBaseDispatcher::FreeTriggerSnapshot(TriggerSnapshot& snapshot) {
    snapshot = TriggerSnapshot{};
}

bool TApdBaseDispatcher::MatchDataTrigger(DataTriggerRecord& trigger, BYTE b) {
    if (trigger.IgnoreCase)
        b = CharUpperAnsi(b);
    auto& slot = trigger.MatchState;
    const auto& pattern = trigger.Pattern;
    // With no candidate under way only the pattern's first byte can change anything.
    if (trigger.Idle && pattern[0] != b)
        return false;
    const DWORD length = trigger.Length;
    DWORD active = 0;
    bool started = false;
    bool process = true;
    bool completed = false;
    for (DWORD i = 0; i < length; ++i) {
        if (process) {
            const DWORD p = slot[i];
            if (pattern[p] == b) {
                if (p == length - 1) {
                    completed = true;
                    slot.fill(0);
                    active = 0;
                } else {
                    slot[i] = p + 1;
                }
            } else if (pattern[0] == b) {
                slot[i] = 1;
                started = true;
            } else {
                slot[i] = 0;
            }
        }
        if (slot[i] == 1)
            started = true;
        active |= slot[i];
        process = started ? slot[i + 1] != 0 : slot[i + 1] != 0 || pattern[0] == b;
    }
    trigger.Idle = active == 0;
    return completed;
}
