#include "serial/trigger_table.h"

#include <algorithm>

namespace {

constexpr DWORD FirstSearchedSeq = 4096;
constexpr DWORD LargestHandle = 0xFFF8;   // handles travel as 16-bit values
constexpr DWORD HalfTickRange = 39045157; // half of the tick counter's range

} // namespace

void TriggerTable::Clear() {
    availThreshold_ = 0;
    timers_.clear();
    data_.clear();
    status_.clear();
    nextHandleSeq_ = 1;
}

bool TriggerTable::HandleInUse(DWORD handle) const {
    // A status trigger's handle carries its type in the low three bits.
    auto same = [handle](const auto& r) { return (r.Handle & ~DWORD{7}) == handle; };
    return std::any_of(timers_.begin(), timers_.end(), same) ||
           std::any_of(status_.begin(), status_.end(), same) ||
           std::any_of(data_.begin(), data_.end(), same);
}

DWORD TriggerTable::NewHandle() {
    while (nextHandleSeq_ < FirstSearchedSeq) {
        const DWORD handle = nextHandleSeq_++ * 8;
        if (!HandleInUse(handle))
            return handle;
    }
    for (DWORD handle = 8; handle <= LargestHandle; handle += 8)
        if (!HandleInUse(handle))
            return handle;
    return 0;
}

DWORD TriggerTable::AddData(const BYTE* pattern, DWORD length, bool ignoreCase) {
    if (length > MaxTriggerLength)
        return 0;
    DataTriggerRecord record;
    record.Handle = NewHandle();
    if (record.Handle == 0)
        return 0;
    record.Length = length;
    record.IgnoreCase = ignoreCase;
    std::copy_n(pattern, length, record.Pattern.begin());
    if (ignoreCase)
        for (DWORD i = 0; i < length; ++i)
            record.Pattern[i] = CharUpperAnsi(record.Pattern[i]);
    data_.push_back(record);
    return record.Handle;
}

TriggerKind TriggerTable::Remove(DWORD handle) {
    auto removeFrom = [handle](auto& records) {
        auto it = std::find_if(records.begin(), records.end(),
                               [handle](const auto& r) { return r.Handle == handle; });
        if (it == records.end())
            return false;
        records.erase(it);
        return true;
    };
    if (removeFrom(timers_))
        return TriggerKind::Timer;
    if (removeFrom(status_))
        return TriggerKind::Status;
    if (removeFrom(data_))
        return TriggerKind::Data;
    return TriggerKind::None;
}

void TriggerTable::Snapshot(TriggerSnapshot& snapshot) const {
    snapshot.AvailThreshold = availThreshold_;
    snapshot.TimerTriggers = timers_;
    snapshot.DataTriggers = data_;
    snapshot.StatusTriggers = status_;
}

void TriggerTable::Restore(const TriggerSnapshot& snapshot) {
    availThreshold_ = snapshot.AvailThreshold;
    timers_ = snapshot.TimerTriggers;
    data_ = snapshot.DataTriggers;
    status_ = snapshot.StatusTriggers;
}

TriggerTable::Scan TriggerTable::ScanData(const BYTE* bytes, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        const BYTE b = bytes[i];
        bool hit = false;
        DWORD longest = 0;
        for (auto& trigger : data_) {
            if (trigger.Length == 0)
                continue;
            if (!trigger.Matched)
                trigger.Matched = Match(trigger, b);
            if (trigger.Matched) {
                longest = std::max(longest, trigger.Length);
                hit = true;
            }
        }
        if (hit)
            return {true, i, longest};
    }
    return {false, count, 0};
}

bool TriggerTable::TakeMatched(std::size_t& index, DWORD& handle, WORD& length) {
    index = std::min(index, data_.size());
    while (index > 0) {
        auto& trigger = data_[--index];
        if (!trigger.Matched)
            continue;
        trigger.Matched = false;
        handle = trigger.Handle;
        length = static_cast<WORD>(trigger.Length);
        return true;
    }
    return false;
}

void TriggerTable::ResetMatches() {
    for (auto& trigger : data_) {
        trigger.MatchState.fill(0);
        trigger.Idle = true;
    }
}

BYTE TriggerTable::CharUpperAnsi(BYTE b) {
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

bool TriggerTable::Match(DataTriggerRecord& trigger, BYTE b) {
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

std::optional<TriggerTable::Fired> TriggerTable::FireStatus(const StatusInputs& in) {
    WORD value = 0;
    auto fired = std::find_if(status_.begin(), status_.end(), [&](auto& s) {
        if (!s.Armed || s.Fired)
            return false;
        switch (s.Type) {
        case stModem:
            return (((in.ModemStatus & 0xFF) ^ (s.Value & 0xFF)) & (s.Value >> 8)) != 0;
        case stLine:
            if ((s.Value & in.LineErrors) == 0)
                return false;
            s.Value = static_cast<WORD>(in.LineErrors);
            return true;
        case stOutFree:
            value = static_cast<WORD>(in.OutputFree);
            return in.OutputFree >= s.Value;
        case stOutUsed:
            value = static_cast<WORD>(in.OutputUsed);
            return in.OutputUsed <= s.Value;
        case stOutSent:
            if (!in.OutputSent)
                return false;
            in.OutputSent = false;
            return true;
        default:
            return false;
        }
    });
    if (fired == status_.end())
        return std::nullopt;
    if (fired->Type != stOutFree && fired->Type != stOutUsed)
        value = 0;
    fired->Armed = false;
    fired->Fired = true;
    statusHit_ = true;
    return Fired{fired->Handle, value};
}

std::optional<DWORD> TriggerTable::FireTimer(DWORD now) {
    auto expired = std::find_if(timers_.begin(), timers_.end(), [now](auto& t) {
        return t.Armed &&
               (now > t.ExpiryTick || (now < t.StartTick && now + HalfTickRange > t.ExpiryTick));
    });
    if (expired == timers_.end())
        return std::nullopt;
    expired->Armed = false;
    return expired->Handle;
}

void TriggerTable::ClearFiredIfHit() {
    if (!statusHit_)
        return;
    for (auto& record : status_)
        record.Fired = false;
    statusHit_ = false;
}

bool TriggerTable::AnyArmed() const {
    const auto armed = [](const auto& t) { return t.Armed; };
    return std::any_of(timers_.begin(), timers_.end(), armed) ||
           std::any_of(status_.begin(), status_.end(), armed);
}
