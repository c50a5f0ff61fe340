#pragma once
// A dispatcher's triggers: the byte strings it watches for, its characters-available threshold,
// and its timer and status conditions, with the handles that name them. Data triggers keep their
// partial matches in their records, so a pattern split across reads or across the receive ring's
// end still matches.
//
// Not thread-safe by itself: the dispatcher reaches it only through its ControlLock.

#include "serial/platform/win32_types.h"

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

constexpr DWORD MaxTriggerLength = 21;

// Status trigger kinds, also carried in the low three bits of a status trigger's handle.
enum StatusTriggerType : DWORD {
    stNotActive = 0,
    stModem = 1,
    stLine = 2,
    stOutFree = 3,
    stOutUsed = 4,
    stOutSent = 5
};

struct DataTriggerRecord {
    DWORD Handle = 0;
    DWORD Length = 0;                   // 0..21; 0 never matches
    std::array<DWORD, 22> MatchState{}; // slot i: bytes matched by candidate i, 0 = idle
    bool Idle = true;                   // every match slot is 0
    bool Matched = false;               // completed, event still to be delivered
    bool IgnoreCase = false;
    std::array<BYTE, MaxTriggerLength> Pattern{}; // upper-cased when IgnoreCase
};

struct StatusTriggerRecord {
    DWORD Handle = 0;
    DWORD Type = stNotActive;
    WORD Value = 0; // modem: low byte reference, high byte mask; line: error bits; out: byte count
    bool Armed = false;
    bool Fired = false;
};

struct TimerTriggerRecord {
    DWORD Handle = 0;
    DWORD StartTick = 0; // ticks of 55 ms
    DWORD ExpiryTick = 0;
    bool Armed = false;
};

// The triggers a port takes with it across a close and reopen.
struct TriggerSnapshot {
    DWORD AvailThreshold = 0;
    std::vector<TimerTriggerRecord> TimerTriggers;
    std::vector<DataTriggerRecord> DataTriggers;
    std::vector<StatusTriggerRecord> StatusTriggers;
};

// Which list a removed trigger came from.
enum class TriggerKind { None, Timer, Status, Data };

// What a status check looks at.
struct StatusInputs {
    DWORD ModemStatus = 0;
    DWORD LineErrors = 0;
    DWORD OutputFree = 0;
    DWORD OutputUsed = 0;
    bool& OutputSent; // cleared when an output-sent trigger takes it
};

class TriggerTable {
public:
    // The handle that names the characters-available threshold.
    static constexpr DWORD ThresholdHandle = 1;

    // Empties the table: no threshold, no triggers, handles from 8 again.
    void Clear();
    // The next free handle (a multiple of 8), 0 when none is left. Handles come from a sequence
    // restarted by Clear; a handle a restored trigger holds is skipped, and once the sequence
    // runs out the first free multiple of 8 is taken.
    DWORD NewHandle();
    // The new trigger's handle; 0 when the pattern is longer than MaxTriggerLength or no handle
    // is left.
    DWORD AddData(const BYTE* pattern, DWORD length, bool ignoreCase);
    // Deletes the first trigger with this handle from the timer, status, then data list.
    TriggerKind Remove(DWORD handle);
    DWORD AvailThreshold() const { return availThreshold_; }
    void SetAvailThreshold(DWORD count) { availThreshold_ = count; }

    void Snapshot(TriggerSnapshot& snapshot) const;
    void Restore(const TriggerSnapshot& snapshot);

    // --- data triggers -------------------------------------------------------------------------
    struct Scan {
        bool Matched = false; // some trigger completed at bytes[Index]
        DWORD Index = 0;      // count when none did
        DWORD Longest = 0;    // the longest pattern completed there
    };
    // Feeds bytes to every data trigger until one completes. A completed trigger stays matched
    // (and is fed no more) until TakeMatched hands it over.
    Scan ScanData(const BYTE* bytes, DWORD count);
    std::size_t DataCount() const { return data_.size(); }
    // From index down, the next matched trigger: clears its flag and moves index onto it. False
    // when none is left. index is clamped to the list's size, which a handler may have changed.
    bool TakeMatched(std::size_t& index, DWORD& handle, WORD& length);
    // Forgets every partial match; completed ones stay to be delivered.
    void ResetMatches();

    // One byte for one trigger; true when it completes the pattern.
    static bool Match(DataTriggerRecord& trigger, BYTE b);
    // Windows-1252 upper case of one byte, as CharUpperBuffA does it.
    static BYTE CharUpperAnsi(BYTE b);

    // --- status and timer triggers -------------------------------------------------------------
    struct Fired {
        DWORD Handle = 0;
        WORD Value = 0; // the free or used count for those kinds, else 0
    };
    // The first armed, unfired status trigger whose condition holds, now disarmed and fired.
    std::optional<Fired> FireStatus(const StatusInputs& in);
    // The first armed timer that has expired at tick now, now disarmed.
    std::optional<DWORD> FireTimer(DWORD now);
    // Fired flags are cleared once a pass is done with them.
    void ResetStatusHit() { statusHit_ = false; }
    void ClearFiredIfHit();
    // A timer or status trigger waits for time to pass.
    bool AnyArmed() const;

private:
    bool HandleInUse(DWORD handle) const;

    DWORD availThreshold_ = 0;
    DWORD nextHandleSeq_ = 1;
    bool statusHit_ = false; // a status trigger fired in this pass
    std::vector<TimerTriggerRecord> timers_;
    std::vector<DataTriggerRecord> data_;
    std::vector<StatusTriggerRecord> status_;
};
