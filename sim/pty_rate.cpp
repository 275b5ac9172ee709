// Any-rate access to a tty's speed, and its stop bits, through termios2. Kept apart from
// pty.cpp because <asm/termbits.h> clashes with <termios.h> and <sys/ioctl.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

#include "pty.hpp"

extern "C" int ioctl(int fd, unsigned long request, ...);

PtyLine PtyReadLine(int fd) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) return {};
    return {settings.c_ospeed, (settings.c_cflag & CSTOPB) != 0};
}

bool PtySetLineRate(int fd, uint32_t rate) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) return false;
    settings.c_cflag &= ~CBAUD;
    settings.c_cflag |= BOTHER;
    settings.c_cflag &= ~(CBAUD << IBSHIFT);
    settings.c_cflag |= BOTHER << IBSHIFT;
    settings.c_ospeed = rate;
    settings.c_ispeed = rate;
    return ioctl(fd, TCSETS2, &settings) == 0;
}
