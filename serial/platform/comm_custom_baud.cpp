// Kept apart from the other comm files: the kernel's termios header this needs clashes with the C
// library's <termios.h>.
#include "serial/platform/comm_custom_baud.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

int SetCustomBaud(int fd, DWORD baud) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return errno;
    settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = baud;
    settings.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &settings) == 0 ? 0 : errno;
}

int GetCustomBaud(int fd, DWORD& baud) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return errno;
    baud = settings.c_ospeed;
    return 0;
}
