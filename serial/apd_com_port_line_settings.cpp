// The line settings of the com port: character format, DTR and RTS, flow control and RS-485.
// While the port is closed a setting is only stored; while it is open it goes to the dispatcher.
#include "serial/apd_com_port.h"

#include "serial/check_exception.h"

namespace {

// The device's software flow mode: its receive and transmit are the property's reversed.
DWORD SoftwareFlowMode(TSWFlowOptions options) {
    switch (options) {
    case swfReceive:
        return 2;
    case swfTransmit:
        return 1;
    case swfBoth:
        return 3;
    case swfNone:
    default:
        return 0;
    }
}

} // namespace

// --- character format ----------------------------------------------------------------------------

void TApdCustomComPort::ApplyLineParams() {
    if (!IsOpen())
        return;
    // Only the low byte of the data and stop bits reaches the device. The new value stays
    // stored even when the device refuses it.
    CheckException(this, OpenDispatcher().SetLineParams(static_cast<DWORD>(baud_), parity_,
                                                        dataBits_ & 0xFF, stopBits_ & 0xFF));
}

void TApdCustomComPort::SetBaud(std::int32_t value) {
    if (!Changed(baud_, value))
        return;
    baud_ = value;
    ApplyLineParams();
}

void TApdCustomComPort::SetParity(TParity value) {
    if (!Changed(parity_, value))
        return;
    parity_ = value;
    ApplyLineParams();
}

void TApdCustomComPort::SetDataBits(std::uint16_t value) {
    if (!Changed(dataBits_, value))
        return;
    dataBits_ = value;
    ApplyLineParams();
}

void TApdCustomComPort::SetStopBits(std::uint16_t value) {
    if (!Changed(stopBits_, value))
        return;
    stopBits_ = value;
    ApplyLineParams();
}

// --- DTR and RTS ---------------------------------------------------------------------------------

void TApdCustomComPort::SetDTR(bool value) {
    if (!Changed(dtr_, value))
        return;
    // A positive result: the line is under hardware flow control and stays as it is.
    if (!IsOpen() || CheckException(this, OpenDispatcher().SetDtr(value)) == 0)
        dtr_ = value;
}

void TApdCustomComPort::SetRTS(bool value) {
    if (!Changed(rts_, value))
        return;
    if (!IsOpen() || CheckException(this, OpenDispatcher().SetRts(value)) == 0)
        rts_ = value;
}

// --- flow control --------------------------------------------------------------------------------

void TApdCustomComPort::SetHWFlowOptions(THWFlowOptionSet value) {
    if (!Changed(hwFlowOptions_, value))
        return;
    const DWORD word = value.Bits();
    if (word != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_)
            bufferFull_ = static_cast<std::uint16_t>(inSize_ * 9 / 10);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
            bufferResume_ = static_cast<std::uint16_t>(inSize_ / 10);
    }
    // A refusal leaves the old set.
    if (IsOpen())
        CheckException(this, OpenDispatcher().SetHardwareFlow(bufferFull_, bufferResume_, word));
    hwFlowOptions_ = value;
    // RTS as a handshake line and RS-485's RTS toggling exclude each other.
    if (value.Contains(hwfUseRTS) || value.Contains(hwfRequireCTS))
        SetRS485Mode(false);
}

void TApdCustomComPort::SetSWFlowOptions(TSWFlowOptions value) {
    if (!Changed(swFlowOptions_, value))
        return;
    const DWORD mode = SoftwareFlowMode(value);
    if (mode != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_)
            bufferFull_ = static_cast<std::uint16_t>(inSize_ * 3 / 4);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
            bufferResume_ = static_cast<std::uint16_t>(inSize_ / 4);
    }
    if (IsOpen()) {
        TApdBaseDispatcher& dispatcher = OpenDispatcher();
        CheckException(this, mode != 0
                                 ? dispatcher.SetSoftwareFlow(bufferFull_, bufferResume_, mode)
                                 : dispatcher.ClearSoftwareFlow());
    }
    swFlowOptions_ = value;
}

void TApdCustomComPort::SetXOnChar(char value) {
    if (!Changed(xOnChar_, value))
        return;
    xOnChar_ = value;
    if (IsOpen())
        CheckException(this, OpenDispatcher().SetFlowChars(static_cast<BYTE>(xOnChar_),
                                                           static_cast<BYTE>(xOffChar_)));
}

void TApdCustomComPort::SetXOffChar(char value) {
    if (!Changed(xOffChar_, value))
        return;
    xOffChar_ = value;
    if (IsOpen())
        CheckException(this, OpenDispatcher().SetFlowChars(static_cast<BYTE>(xOnChar_),
                                                           static_cast<BYTE>(xOffChar_)));
}

void TApdCustomComPort::SetBufferFull(std::uint16_t value) {
    if (!Changed(bufferFull_, value))
        return;
    bufferFull_ = value > inSize_ ? static_cast<std::uint16_t>(value * 9 / 10) : value;
    ReapplyFlowOptions();
}

void TApdCustomComPort::SetBufferResume(std::uint16_t value) {
    if (!Changed(bufferResume_, value))
        return;
    bufferResume_ = value > bufferFull_ ? static_cast<std::uint16_t>(bufferFull_ / 10) : value;
    ReapplyFlowOptions();
}

void TApdCustomComPort::ReapplyFlowOptions() {
    // The thresholds are checked again against the flow options and, when open, re-sent.
    WithForceApply([this] {
        SetHWFlowOptions(hwFlowOptions_);
        SetSWFlowOptions(swFlowOptions_);
    });
}

// --- RS-485 --------------------------------------------------------------------------------------

void TApdCustomComPort::SetRS485Mode(bool value) {
    if (!Changed(rs485Mode_, value))
        return;
    rs485Mode_ = value;
    if (IsOpen())
        OpenDispatcher().SetRs485Mode(value);
    if (value) {
        SetHWFlowOptions(hwFlowOptions_.Without(hwfUseRTS).Without(hwfRequireCTS));
        SetRTS(false);
    }
}
