// The com port's byte trace and event log settings: one state table, run for either recorder
// with that recorder's dispatcher operations.
#include "serial/apd_com_port.h"

#include "serial/check_exception.h"

#include <algorithm>

struct TApdCustomComPort::RecorderOps {
    int (*Start)(TApdBaseDispatcher&, DWORD size);
    void (*Resume)(TApdBaseDispatcher&);
    void (*Pause)(TApdBaseDispatcher&);
    void (*Clear)(TApdBaseDispatcher&);
    void (*Discard)(TApdBaseDispatcher&);
    int (*Dump)(TApdBaseDispatcher&, const std::string& name, bool append, bool hex, bool allHex);
};

const TApdCustomComPort::RecorderOps& TApdCustomComPort::TraceOps() {
    static const RecorderOps ops{
        [](TApdBaseDispatcher& d, DWORD size) { return d.StartTrace(size); },
        [](TApdBaseDispatcher& d) { d.ResumeTrace(); },
        [](TApdBaseDispatcher& d) { d.PauseTrace(); },
        [](TApdBaseDispatcher& d) { d.ClearTrace(); },
        [](TApdBaseDispatcher& d) { d.DiscardTrace(); },
        [](TApdBaseDispatcher& d, const std::string& name, bool append, bool hex, bool allHex) {
            return d.DumpTrace(name, append, hex, allHex);
        }};
    return ops;
}

const TApdCustomComPort::RecorderOps& TApdCustomComPort::LogOps() {
    static const RecorderOps ops{[](TApdBaseDispatcher& d, DWORD size) {
                                     d.StartLog(size);
                                     return 0;
                                 },
                                 [](TApdBaseDispatcher& d) { d.ResumeLog(); },
                                 [](TApdBaseDispatcher& d) { d.PauseLog(); },
                                 [](TApdBaseDispatcher& d) { d.ClearLog(); },
                                 [](TApdBaseDispatcher& d) { d.DiscardLog(); },
                                 [](TApdBaseDispatcher& d, const std::string& name, bool append,
                                    bool hex,
                                    bool allHex) { return d.DumpLog(name, append, hex, allHex); }};
    return ops;
}

void TApdCustomComPort::SetTracing(TTraceLogState value) {
    SetRecorderState(trace_, TraceOps(), value);
}

void TApdCustomComPort::SetLogging(TTraceLogState value) {
    SetRecorderState(log_, LogOps(), value);
}

void TApdCustomComPort::SetTraceSize(std::uint32_t value) {
    SetRecorderSize(trace_, TraceOps(), value);
}

void TApdCustomComPort::SetLogSize(std::uint32_t value) {
    SetRecorderSize(log_, LogOps(), value);
}

void TApdCustomComPort::SetRecorderState(Recorder& recorder, const RecorderOps& ops,
                                         TTraceLogState value) {
    if (!Changed(recorder.State, value))
        return;
    if (!IsOpen()) {
        // A closed port only remembers whether the recorder is to be on at the next open.
        recorder.State = value == tlOn ? tlOn : tlOff;
        return;
    }
    TApdBaseDispatcher& dispatcher = OpenDispatcher();
    const bool active = recorder.State == tlOn;
    const bool paused = recorder.State == tlPause;
    switch (value) {
    case tlOff:
        if (active || paused)
            ops.Discard(dispatcher);
        recorder.State = tlOff;
        break;
    case tlOn:
        if (paused) {
            ops.Resume(dispatcher);
        } else {
            const int result = ops.Start(dispatcher, recorder.Size);
            CheckException(this, result);
            if (result < 0)
                return;
        }
        recorder.State = tlOn;
        break;
    case tlDump:
    case tlAppend: {
        if (!active && !paused)
            break;
        ops.Resume(dispatcher);
        const int result =
            ops.Dump(dispatcher, recorder.Name, value == tlAppend, recorder.Hex, recorder.AllHex);
        // The recorder is off whether or not its file could be written.
        recorder.State = tlOff;
        CheckException(this, result);
        break;
    }
    case tlClear:
        if (active || paused)
            ops.Clear(dispatcher);
        break;
    case tlPause:
        if (active) {
            ops.Pause(dispatcher);
            recorder.State = tlPause;
        }
        break;
    }
}

void TApdCustomComPort::SetRecorderSize(Recorder& recorder, const RecorderOps& ops,
                                        std::uint32_t value) {
    value = std::min(value, recorder.MaxSize);
    if (!Changed(recorder.Size, value))
        return;
    recorder.Size = value;
    if (!IsOpen())
        return;
    // The buffer is made again with the new size; a paused recorder is switched off.
    if (recorder.State == tlOn) {
        SetRecorderState(recorder, ops, tlOff);
        SetRecorderState(recorder, ops, tlOn);
    } else if (recorder.State == tlPause) {
        SetRecorderState(recorder, ops, tlOff);
    }
}
