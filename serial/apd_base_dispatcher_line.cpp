// Line settings: baud, parity, data and stop bits, DTR and RTS, queue sizes.
#include "serial/apd_base_dispatcher.h"

#include <chrono>
#include <thread>

namespace {

// SetLineParams' values meaning "keep the current setting".
constexpr DWORD KeepBaud = 0;
constexpr int KeepParity = 5;
constexpr int KeepDataBits = 9;
constexpr int KeepStopBits = 3;

constexpr int DrainPolls = 5000;
constexpr auto DrainPollInterval = std::chrono::milliseconds(2);

} // namespace

DWORD TApdBaseDispatcher::BaudFromCode(DWORD code) {
    static constexpr DWORD table[] = {110,   300, 600, 1200,   2400, 4800, 9600, 14400,
                                      19200, 0,   0,   38400,  0,    0,    0,    56000,
                                      0,     0,   0,   128000, 0,    0,    0,    256000};
    if (code == 0xFEFF)
        return 115200;
    if (code >= 0xFF10 && code <= 0xFF27) {
        const DWORD rate = table[code - 0xFF10];
        return rate != 0 ? rate : code;
    }
    return code;
}

DWORD TApdBaseDispatcher::DrainDelayMs(DWORD baud, int dataBits, int parity, int stopCode) {
    if (baud == 0)
        return 0;
    const DWORD bits = dataBits + 2 + (parity != NOPARITY ? 1 : 0) + (stopCode != 0 ? 1 : 0);
    unsigned long long t = (10000000ull / baud) * bits * 18; // units of 100 ns
    if (t < 10000)
        t *= 2;
    return static_cast<DWORD>((t + 9999) / 10000);
}

void TApdBaseDispatcher::WaitOutputDrained() {
    // Every open sets the line up, and eight opens at 18 character times each kept the ports of
    // the port dialog's OK closed for longer than a fast line leaves its driver's queue.
    if (!outputQueued_)
        return;
    for (int poll = 0; poll < DrainPolls && OutputUsed() != 0; ++poll)
        std::this_thread::sleep_for(DrainPollInterval);
    DWORD delay = 0;
    {
        std::lock_guard lock(ControlLock);
        ReadComState(LineState);
        delay = DrainDelayMs(BaudFromCode(LastBaud), LineState.ByteSize, LineState.Parity,
                             LineState.StopBits);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
}

int TApdBaseDispatcher::SetLineParams(DWORD baud, int parity, int dataBits, int stopBits) {
    BYTE stopCode = 0;
    {
        std::lock_guard lock(ControlLock);
        ReadComState(LineState);
        if (baud == KeepBaud)
            baud = LineState.BaudRate;
        if (parity == KeepParity)
            parity = LineState.Parity;
        if (dataBits == KeepDataBits)
            dataBits = LineState.ByteSize;
        if (stopBits == KeepStopBits)
            stopCode = LineState.StopBits;
        else
            stopCode = stopBits <= 1 ? ONESTOPBIT : TWOSTOPBITS;
        if (dataBits == 5)
            stopCode = ONE5STOPBITS;
        if (baud == LineState.BaudRate && parity == LineState.Parity &&
            dataBits == LineState.ByteSize && stopCode == LineState.StopBits)
            return 0;
    }
    WaitOutputDrained();
    std::lock_guard lock(ControlLock);
    ReadComState(LineState);
    LineState.BaudRate = baud;
    LineState.Parity = static_cast<BYTE>(parity);
    LineState.ByteSize = static_cast<BYTE>(dataBits);
    LineState.StopBits = stopCode;
    LineState.fBinary = true;
    LineState.fParity = false;
    LineState.fDsrSensitivity = false;
    LineState.fTXContinueOnXoff = true;
    LineState.fNull = false;
    return ApplyLineState();
}

int TApdBaseDispatcher::GetLineParams(LineParams& params) {
    std::lock_guard lock(ControlLock);
    if (const int result = ReadComState(LineState); result < 0)
        return result;
    params.Baud = BaudFromCode(LineState.BaudRate);
    params.Parity = LineState.Parity;
    params.DataBits = LineState.ByteSize;
    params.StopBits = LineState.StopBits != 0 ? 2 : 1;
    return 0;
}

int TApdBaseDispatcher::ChangeQueueSizes(DWORD inSize, DWORD outSize) {
    if (!SetQueueSizes(inSize, outSize))
        return -static_cast<int>(LastDeviceError());
    return 0;
}

int TApdBaseDispatcher::ApplyLineState() {
    std::lock_guard lock(ControlLock);
    auto drive = drive_.Lock();
    if (!drive->DtrByFlow)
        LineState.fDtrControl = drive->DtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    if (!drive->RtsByFlow)
        LineState.fRtsControl = drive->RtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    const int result = WriteComState(LineState);
    LastBaud = LineState.BaudRate;
    SetDtr(drive->DtrOn);
    if (!Rs485Mode)
        SetRts(drive->RtsOn);
    return result;
}

int TApdBaseDispatcher::SetDtr(bool on) {
    auto drive = drive_.Lock();
    if (drive->DtrByFlow)
        return 1;
    const int result = EscapeLine(on ? SETDTR : CLRDTR);
    drive->DtrOn = on;
    return result < 0 ? ecBadArgument : 0;
}

int TApdBaseDispatcher::SetRts(bool on) {
    auto drive = drive_.Lock();
    if (drive->RtsByFlow)
        return 1;
    const int result = EscapeLine(on ? SETRTS : CLRRTS);
    drive->RtsOn = on;
    return result < 0 ? ecBadArgument : 0;
}
