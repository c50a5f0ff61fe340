// Modem status and line errors, flow control, thread priority, RS-485 mode and option flags.
#include "serial/apd_base_dispatcher.h"

#include <algorithm>

namespace {

constexpr int PriorityNormal = 3;
constexpr int PriorityHighest = 6; // time-critical

} // namespace

DWORD TApdBaseDispatcher::RefreshModemStatus(DWORD mask) {
    auto line = line_.Lock();
    DWORD& modem = line->ModemStatus;
    modem = (ReadModemStatus() & 0xFF) | (modem & 0x0F);
    if (ringSeen_.exchange(false))
        modem |= 0x04;
    const DWORD status = modem & 0xFF;
    modem &= mask;
    return status;
}

void TApdBaseDispatcher::RefreshModemStatusChanges() {
    auto line = line_.Lock();
    DWORD& modem = line->ModemStatus;
    const DWORD old = modem & 0xFF;
    RefreshModemStatus(0xFF);
    modem |= ((modem ^ old) & 0xF0) >> 4;
    LogEvent(ltStatus, lsModemStatus, modem & 0xFF);
}

DWORD TApdBaseDispatcher::RefreshLineErrors(bool countQueued) {
    DWORD errors = 0;
    DWORD pending = 0;
    {
        std::lock_guard lock(OutputLock);
        if (countQueued) {
            errors = PollComError(ComStatus);
            pending = ComStatus.cbInQue;
        } else
            errors = PollLineErrors();
    }
    auto line = line_.Lock();
    line->LineErrors |= errors & 0x1F;
    LineErrorCounts& tally = line->Tally;
    tally.Framing += (errors & CE_FRAME) != 0;
    tally.Parity += (errors & CE_RXPARITY) != 0;
    tally.Overrun += (errors & (CE_OVERRUN | CE_RXOVER)) != 0;
    tally.Breaks += (errors & CE_BREAK) != 0;
    return pending;
}

LineErrorCounts TApdBaseDispatcher::LineErrorTally() {
    return line_.Lock()->Tally;
}

int TApdBaseDispatcher::TakeLineError() {
    auto line = line_.Lock();
    static constexpr struct {
        DWORD Bit;
        int Error;
    } order[] = {{CE_RXOVER, 1}, {CE_OVERRUN, 2}, {CE_RXPARITY, 3}, {CE_FRAME, 4}, {CE_BREAK, 9}};
    for (const auto& o : order) {
        if (line->LineErrors & o.Bit) {
            line->LineErrors &= ~DWORD{0x0F}; // the break bit stays for TakeLineBreak
            return o.Error;
        }
    }
    return 0;
}

bool TApdBaseDispatcher::TakeLineBreak() {
    auto line = line_.Lock();
    const bool seen = (line->LineErrors & CE_BREAK) != 0;
    line->LineErrors &= ~CE_BREAK;
    return seen;
}

int TApdBaseDispatcher::SetHardwareFlow(DWORD full, DWORD resume, DWORD options) {
    if (full < resume || full > InQueueSize)
        return ecBadArgument;
    std::lock_guard lock(ControlLock);
    auto drive = drive_.Lock();
    ReadComState(LineState);
    LineState.fOutxCtsFlow = false;
    LineState.fOutxDsrFlow = false;
    LineState.fDtrControl = DTR_CONTROL_DISABLE;
    LineState.fRtsControl = RTS_CONTROL_DISABLE;
    drive->DtrByFlow = drive->RtsByFlow = false;
    if (options & 0x01) {
        LineState.fDtrControl = DTR_CONTROL_HANDSHAKE;
        drive->DtrByFlow = true;
    } else if (drive->DtrOn) {
        LineState.fDtrControl = DTR_CONTROL_ENABLE;
    }
    if (options & 0x02) {
        LineState.fRtsControl = RTS_CONTROL_HANDSHAKE;
        drive->RtsByFlow = true;
    } else if (drive->RtsOn) {
        LineState.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (Rs485Mode) {
        LineState.fRtsControl = RTS_CONTROL_TOGGLE;
        drive->RtsByFlow = true;
    }
    LineState.XoffLim = static_cast<WORD>(InQueueSize - full);
    LineState.XonLim = static_cast<WORD>(resume);
    LineState.fOutxDsrFlow = (options & 0x04) != 0;
    LineState.fOutxCtsFlow = (options & 0x08) != 0;
    return ApplyLineState();
}

int TApdBaseDispatcher::SetSoftwareFlow(DWORD full, DWORD resume, DWORD options) {
    if (full < resume || full > InQueueSize)
        return ecBadArgument;
    std::lock_guard lock(ControlLock);
    ReadComState(LineState);
    if (options & 0x02) {
        LineState.fInX = true;
        LineState.XoffLim = static_cast<WORD>(InQueueSize - full);
        LineState.XonLim = static_cast<WORD>(resume);
    }
    if (options & 0x01)
        LineState.fOutX = true;
    if (options & 0x03) {
        LineState.XonChar = 17;
        LineState.XoffChar = 19;
    }
    return ApplyLineState();
}

int TApdBaseDispatcher::ClearSoftwareFlow() {
    std::lock_guard lock(ControlLock);
    ReadComState(LineState);
    LineState.fInX = false;
    LineState.fOutX = false;
    return ApplyLineState();
}

int TApdBaseDispatcher::SetFlowChars(BYTE xon, BYTE xoff) {
    std::lock_guard lock(ControlLock);
    ReadComState(LineState);
    LineState.XonChar = static_cast<char>(xon);
    LineState.XoffChar = static_cast<char>(xoff);
    return ApplyLineState();
}

int TApdBaseDispatcher::GetFlowOptions(FlowOptions& options) {
    std::lock_guard lock(ControlLock);
    if (const int result = ReadComState(LineState); result < 0)
        return result;
    options.Hardware = (LineState.fDtrControl == DTR_CONTROL_HANDSHAKE ? 0x01 : 0) |
                       (LineState.fRtsControl == RTS_CONTROL_HANDSHAKE ? 0x02 : 0) |
                       (LineState.fOutxDsrFlow ? 0x04 : 0) | (LineState.fOutxCtsFlow ? 0x08 : 0);
    options.Software = (LineState.fInX ? 0x02 : 0) | (LineState.fOutX ? 0x01 : 0);
    options.XonChar = static_cast<BYTE>(LineState.XonChar);
    options.XoffChar = static_cast<BYTE>(LineState.XoffChar);
    return 0;
}

int TApdBaseDispatcher::ThreadPriorityLevel(bool outputThread) {
    std::lock_guard lock(ControlLock);
    const int level = PriorityNormal + PriorityBoost + (outputThread && Rs485Mode ? 1 : 0);
    return std::clamp(level, 0, PriorityHighest);
}

void TApdBaseDispatcher::SetPriorityBoost(BYTE boost) {
    std::lock_guard lock(ControlLock);
    if (boost == PriorityBoost)
        return;
    PriorityBoost = boost;
    ApplyThreadPriorities();
}

void TApdBaseDispatcher::SetRs485Mode(bool on) {
    std::lock_guard lock(ControlLock);
    // UartBase stays 0: no driver here reports a UART base address.
    Rs485Mode = on;
    ApplyThreadPriorities();
}

void TApdBaseDispatcher::SetOptionFlags(DWORD bits) {
    std::lock_guard lock(ControlLock);
    OptionFlags |= bits;
}

void TApdBaseDispatcher::ClearOptionFlags(DWORD bits) {
    std::lock_guard lock(ControlLock);
    OptionFlags &= ~bits;
}
