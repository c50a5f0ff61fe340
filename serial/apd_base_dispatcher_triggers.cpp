// The dispatcher's trigger operations: adding and removing, the threshold, snapshots.
#include "serial/apd_base_dispatcher.h"

DWORD TApdBaseDispatcher::NewTriggerHandle() {
    return triggers_.Lock()->NewHandle();
}

DWORD TApdBaseDispatcher::AvailThreshold() {
    return triggers_.Lock()->AvailThreshold();
}

int TApdBaseDispatcher::AddDataTrigger(const BYTE* pattern, DWORD length, bool ignoreCase) {
    if (length > MaxTriggerLength)
        return ecTriggerTooLong;
    auto triggers = triggers_.Lock();
    const DWORD handle = triggers->AddData(pattern, length, ignoreCase);
    if (handle == 0)
        return ecNoMoreTriggers;
    LogEvent(ltAllocTrigger, lsDataTrigger, handle, pattern, length);
    return static_cast<int>(handle);
}

int TApdBaseDispatcher::RemoveTrigger(DWORD handle) {
    auto triggers = triggers_.Lock();
    if (handle == TriggerTable::ThresholdHandle) {
        triggers->SetAvailThreshold(0);
        return 0;
    }
    if (handle < 2)
        return ecBadTriggerHandle;
    const TriggerKind kind = triggers->Remove(handle);
    if (kind == TriggerKind::None)
        return ecBadTriggerHandle;
    const BYTE subtype = kind == TriggerKind::Timer    ? lsTimerTrigger
                         : kind == TriggerKind::Status ? lsStatusTrigger
                                                       : lsDataTrigger;
    LogEvent(ltDisposeTrigger, subtype, handle);
    return 0;
}

void TApdBaseDispatcher::SetAvailThreshold(DWORD count) {
    auto triggers = triggers_.Lock();
    triggers->SetAvailThreshold(count);
    LogEvent(ltTriggerSetting, lsAvailTrigger, count);
}

void TApdBaseDispatcher::SnapshotTriggers(TriggerSnapshot& snapshot) {
    triggers_.Lock()->Snapshot(snapshot);
}

void TApdBaseDispatcher::RestoreTriggers(const TriggerSnapshot& snapshot) {
    auto triggers = triggers_.Lock();
    triggers->Restore(snapshot);
    // An idle dispatch thread waits for comm events only; armed timers need it to look again.
    WakeDispatch();
}

void TApdBaseDispatcher::FreeTriggerSnapshot(TriggerSnapshot& snapshot) {
    snapshot = TriggerSnapshot{};
}
