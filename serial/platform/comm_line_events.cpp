#include "serial/platform/comm_line_events.h"

#include <cerrno>
#include <linux/serial.h>
#include <sys/ioctl.h>

bool IoctlUnsupported(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

namespace {

DWORD ModemStatusOfLines(int lines) {
    DWORD status = 0;
    if (lines & TIOCM_CTS)
        status |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        status |= MS_DSR_ON;
    if (lines & TIOCM_RI)
        status |= MS_RING_ON;
    if (lines & TIOCM_CD)
        status |= MS_RLSD_ON;
    return status;
}

} // namespace

DWORD LineEventsBetween(const LineSample& before, const LineSample& after) {
    const DWORD changed = before.ModemStatus ^ after.ModemStatus;
    DWORD events = 0;
    if ((changed & MS_CTS_ON) || after.CtsChanges != before.CtsChanges)
        events |= EV_CTS;
    if ((changed & MS_DSR_ON) || after.DsrChanges != before.DsrChanges)
        events |= EV_DSR;
    if ((changed & MS_RLSD_ON) || after.DcdChanges != before.DcdChanges)
        events |= EV_RLSD;
    if (((changed & after.ModemStatus) & MS_RING_ON) || after.RingEdges != before.RingEdges)
        events |= EV_RING;
    if (CommErrorsBetween(before, after) & ~CE_BREAK)
        events |= EV_ERR;
    if (after.Breaks != before.Breaks)
        events |= EV_BREAK;
    return events;
}

DWORD CommErrorsBetween(const LineSample& before, const LineSample& after) {
    DWORD errors = 0;
    if (after.BufferOverrun != before.BufferOverrun)
        errors |= CE_RXOVER;
    if (after.Overrun != before.Overrun)
        errors |= CE_OVERRUN;
    if (after.Parity != before.Parity)
        errors |= CE_RXPARITY;
    if (after.Frame != before.Frame)
        errors |= CE_FRAME;
    if (after.Breaks != before.Breaks)
        errors |= CE_BREAK;
    return errors;
}

int SampleLine(int fd, LineSample& sample) {
    if (sample.HasModemLines) {
        int lines = 0;
        if (ioctl(fd, TIOCMGET, &lines) == 0)
            sample.ModemStatus = ModemStatusOfLines(lines);
        else if (IoctlUnsupported(errno))
            sample.HasModemLines = false;
        else
            return errno;
    }
    if (sample.HasCounters) {
        serial_icounter_struct counts{};
        if (ioctl(fd, TIOCGICOUNT, &counts) == 0) {
            sample.CtsChanges = static_cast<DWORD>(counts.cts);
            sample.DsrChanges = static_cast<DWORD>(counts.dsr);
            sample.RingEdges = static_cast<DWORD>(counts.rng);
            sample.DcdChanges = static_cast<DWORD>(counts.dcd);
            sample.Frame = static_cast<DWORD>(counts.frame);
            sample.Overrun = static_cast<DWORD>(counts.overrun);
            sample.Parity = static_cast<DWORD>(counts.parity);
            sample.Breaks = static_cast<DWORD>(counts.brk);
            sample.BufferOverrun = static_cast<DWORD>(counts.buf_overrun);
        } else if (IoctlUnsupported(errno)) {
            sample.HasCounters = false;
        } else {
            return errno;
        }
    }
    return 0;
}
