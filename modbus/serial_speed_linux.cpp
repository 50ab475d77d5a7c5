#include "modbus/link_io.h"

// The kernel's termios2 interface: the only way to run a line at a rate that has no B-constant.
// Kept apart from <termios.h>, whose definitions clash with these.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace mistvale {

int SetSerialLineSpeed(int fd, unsigned baud) {
    if (fd < 0 || baud == 0)
        return 0;
    struct termios2 tios;
    if (ioctl(fd, TCGETS2, &tios) != 0)
        return 0;
    if (tios.c_ospeed == baud && tios.c_ispeed == baud)
        return 1;
    tios.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tios.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tios.c_ospeed = baud;
    tios.c_ispeed = baud;
    if (ioctl(fd, TCSETS2, &tios) != 0)
        return 0;
    // A driver may round a rate it cannot make; only the rate asked for counts as set.
    struct termios2 check;
    return ioctl(fd, TCGETS2, &check) == 0 && check.c_ospeed == baud ? 1 : 0;
}

unsigned SerialLineSpeed(int fd) {
    struct termios2 tios;
    if (fd < 0 || ioctl(fd, TCGETS2, &tios) != 0)
        return 0;
    return tios.c_ospeed;
}

} // namespace mistvale
