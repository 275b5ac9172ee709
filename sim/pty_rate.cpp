// Any-rate access to a tty's speed through termios2. Kept apart from pty.cpp because
// <asm/termbits.h> clashes with <termios.h> and <sys/ioctl.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

uint32_t PtyLineRate(int fd) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
    return settings.c_ospeed;
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
