// The byte trace and the event log of a dispatcher.
#include "serial/apd_base_dispatcher.h"

#include "serial/error_message_text.h"
#include "serial/trace_file.h"

#include <sys/utsname.h>

namespace {

std::string LogHeading() {
    std::string text = "Serial port dispatcher event log\r\n";
#if defined(__clang__)
    text += "Compiler : Clang " __clang_version__ "\r\n";
#elif defined(__GNUC__)
    text += "Compiler : GCC " __VERSION__ "\r\n";
#else
    text += "Compiler : unknown\r\n";
#endif
    utsname system{};
    text += "Operating System : ";
    if (uname(&system) == 0)
        text += std::string(system.sysname) + " " + system.release + " " + system.machine;
    text += "\r\n\r\n";
    text += ErrorMessageText(15501) + "\r\n";
    text += ErrorMessageText(15502) + "\r\n";
    return text;
}

} // namespace

int TApdBaseDispatcher::StartTrace(DWORD capacity) {
    std::lock_guard lock(ControlLock);
    if (Trace.Exists())
        Trace.Empty();
    else if (!Trace.Allocate(capacity))
        return ecBadArgument;
    TraceOn = true;
    return 0;
}

int TApdBaseDispatcher::ClearTrace() {
    std::lock_guard lock(ControlLock);
    Trace.Empty();
    return 0;
}

void TApdBaseDispatcher::DiscardTrace() {
    std::lock_guard lock(ControlLock);
    TraceOn = false;
    Trace.Free();
}

void TApdBaseDispatcher::ResumeTrace() {
    std::lock_guard lock(ControlLock);
    TraceOn = Trace.Exists();
}

void TApdBaseDispatcher::PauseTrace() {
    std::lock_guard lock(ControlLock);
    TraceOn = false;
}

void TApdBaseDispatcher::AddTraceEntry(char code, BYTE b) {
    std::lock_guard lock(ControlLock);
    if (TraceOn)
        Trace.Add(code, b);
}

int TApdBaseDispatcher::DumpTrace(const std::string& fileName, bool append, bool hex, bool allHex) {
    std::string text;
    {
        std::lock_guard lock(ControlLock);
        TraceOn = false;
        if (Trace.HasEntries())
            text = Trace.DumpText(hex, allHex);
        Trace.Free();
    }
    return text.empty() ? 0 : WriteTraceFile(fileName, text, append);
}

void TApdBaseDispatcher::StartLog(DWORD size) {
    std::lock_guard lock(ControlLock);
    if (Log.Exists())
        Log.Empty();
    else
        Log.Allocate(size);
    LogOn = true;
}

void TApdBaseDispatcher::ClearLog() {
    std::lock_guard lock(ControlLock);
    Log.Empty();
}

void TApdBaseDispatcher::DiscardLog() {
    std::lock_guard lock(ControlLock);
    LogOn = false;
    Log.Free();
}

void TApdBaseDispatcher::ResumeLog() {
    std::lock_guard lock(ControlLock);
    LogOn = Log.Exists();
}

void TApdBaseDispatcher::PauseLog() {
    std::lock_guard lock(ControlLock);
    LogOn = false;
}

void TApdBaseDispatcher::LogEvent(BYTE type, BYTE subtype, DWORD value, const BYTE* bytes,
                                  DWORD count) {
    if (!LogOn) // checked first, without the lock: the receive path logs every read
        return;
    std::lock_guard lock(ControlLock);
    if (LogOn)
        Log.Append(type, subtype, TickCount() - TimeBase, value, bytes, count);
}

int TApdBaseDispatcher::DumpLog(const std::string& fileName, bool append, bool hex, bool allHex) {
    std::string text;
    {
        std::lock_guard lock(ControlLock);
        LogOn = false;
        if (!Log.HasEntries()) {
            Log.Free();
            return 0;
        }
        text = LogHeading() + Log.EntriesText(ErrorMessageText, hex, allHex);
    }
    const int result = WriteTraceFile(fileName, text, append);
    if (result == 0) {
        // A failed dump keeps the log, so that it can be written elsewhere.
        std::lock_guard lock(ControlLock);
        Log.Free();
    }
    return result;
}
