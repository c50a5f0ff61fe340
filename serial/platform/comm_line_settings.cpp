#include "serial/platform/comm_line_settings.h"

#include <array>
#include <termios.h>

namespace {

struct RateSpeed {
    DWORD Rate;
    speed_t Speed;
};

constexpr std::array<RateSpeed, 16> rateSpeeds{{
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
}};

constexpr DWORD minimumRate = 110;
constexpr DWORD maximumRate = 256000;

speed_t SpeedOfRate(DWORD rate) {
    for (const auto& entry : rateSpeeds) {
        if (entry.Rate == rate)
            return entry.Speed;
    }
    return B0;
}

DWORD RateOfSpeed(speed_t speed) {
    for (const auto& entry : rateSpeeds) {
        if (entry.Speed == speed)
            return entry.Rate;
    }
    return 0;
}

bool ValidFormat(const DCB& dcb) {
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
        return false;
#ifndef CMSPAR
    if (dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY)
        return false;
#endif
    if (dcb.Parity > SPACEPARITY)
        return false;
    // A UART makes one and a half stop bits only for five-bit characters, and two stop bits only
    // for longer ones.
    switch (dcb.StopBits) {
    case ONESTOPBIT:
        return true;
    case ONE5STOPBITS:
        return dcb.ByteSize == 5;
    case TWOSTOPBITS:
        return dcb.ByteSize != 5;
    default:
        return false;
    }
}

bool ValidFlow(const DCB& dcb) {
    if (dcb.fDtrControl > DTR_CONTROL_HANDSHAKE || dcb.fRtsControl > RTS_CONTROL_TOGGLE)
        return false;
    return !((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar);
}

tcflag_t SizeFlag(BYTE byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

tcflag_t ParityFlags(BYTE parity) {
    switch (parity) {
    case ODDPARITY:
        return PARENB | PARODD;
    case EVENPARITY:
        return PARENB;
#ifdef CMSPAR
    case MARKPARITY:
        return PARENB | CMSPAR | PARODD;
    case SPACEPARITY:
        return PARENB | CMSPAR;
#endif
    default:
        return 0;
    }
}

BYTE ParityOfFlags(tcflag_t cflag) {
    if (!(cflag & PARENB))
        return NOPARITY;
#ifdef CMSPAR
    if (cflag & CMSPAR)
        return (cflag & PARODD) ? MARKPARITY : SPACEPARITY;
#endif
    return (cflag & PARODD) ? ODDPARITY : EVENPARITY;
}

BYTE SizeOfFlags(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

} // namespace

DWORD DcbToTermios(const DCB& dcb, termios& t, DWORD& customBaud) {
    if (dcb.BaudRate < minimumRate || dcb.BaudRate > maximumRate || !ValidFormat(dcb) ||
        !ValidFlow(dcb))
        return ERROR_INVALID_PARAMETER;
    const speed_t speed = SpeedOfRate(dcb.BaudRate);
    customBaud = speed == B0 ? dcb.BaudRate : 0;

    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~CMSPAR;
#endif
    t.c_cflag |= CLOCAL | CREAD | HUPCL | SizeFlag(dcb.ByteSize) | ParityFlags(dcb.Parity);
    if (dcb.StopBits != ONESTOPBIT)
        t.c_cflag |= CSTOPB;
    // The kernel's CTS/RTS handshake is both halves at once: output waits for CTS and RTS drops
    // while the input buffer is full.
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        t.c_cflag |= CRTSCTS;

    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
    if (dcb.fOutX)
        t.c_iflag |= IXON;
    if (dcb.fInX)
        t.c_iflag |= IXOFF;
    // A byte with a framing or parity error and a break are dropped, never read as a NUL byte
    // (or, for a framing error unchecked, as whatever the noise made of it). The driver counts
    // them all the same, so ClearCommError still reports them. Parity is checked whatever fParity
    // says: a byte known to be bad is no report text.
    t.c_iflag |= INPCK | IGNPAR | IGNBRK;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    // Reads never wait (the descriptor is non-blocking); one byte makes a read complete.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    // A numeric rate goes on after these settings; 38400 stands in until then.
    cfsetispeed(&t, speed == B0 ? B38400 : speed);
    cfsetospeed(&t, speed == B0 ? B38400 : speed);
    return ERROR_SUCCESS;
}

void QuietTermios(termios& t) {
    t.c_iflag &= ~(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
    t.c_iflag |= IGNBRK | IGNPAR;
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

DCB DcbFromTermios(const termios& t, DWORD customBaud) {
    DCB dcb;
    dcb.BaudRate = HasCustomBaud(t) ? customBaud : RateOfSpeed(cfgetospeed(&t));
    dcb.ByteSize = SizeOfFlags(t.c_cflag);
    dcb.Parity = ParityOfFlags(t.c_cflag);
    if (t.c_cflag & CSTOPB)
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.fParity = (t.c_iflag & INPCK) != 0;
    dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    dcb.fRtsControl = dcb.fOutxCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutX = (t.c_iflag & IXON) != 0;
    dcb.fInX = (t.c_iflag & IXOFF) != 0;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return dcb;
}

bool HasCustomBaud(const termios& t) {
    // The kernel marks a numeric rate with the extended-rate bit alone in the rate field.
    return (t.c_cflag & CBAUD) == CBAUDEX;
}

bool SettingsTaken(const termios& wanted, const termios& readBack, bool customBaud,
                   bool virtualPort) {
    if (!customBaud && (cfgetospeed(&wanted) != cfgetospeed(&readBack) ||
                        cfgetispeed(&wanted) != cfgetispeed(&readBack)))
        return false;
    tcflag_t kept = CRTSCTS | CLOCAL | CREAD;
    if (!virtualPort) {
        kept |= CSIZE | PARENB | PARODD | CSTOPB;
#ifdef CMSPAR
        kept |= CMSPAR;
#endif
    }
    return (wanted.c_cflag & kept) == (readBack.c_cflag & kept);
}
