#include "pty.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

bool PtyOpen(Pty& pty, uint32_t rate, std::string& error) {
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        error = std::string("posix_openpt() failed: ") + std::strerror(errno);
        return false;
    }
    char name[256];
    if (ptsname_r(pty.master, name, sizeof name) != 0) {
        error = std::string("ptsname_r() failed: ") + std::strerror(errno);
        return false;
    }
    pty.slavePath = name;
    pty.slaveHold = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slaveHold < 0) {
        error = "can't open " + pty.slavePath + ": " + std::strerror(errno);
        return false;
    }
    termios settings{};
    if (tcgetattr(pty.slaveHold, &settings) != 0) {
        error = std::string("tcgetattr() failed: ") + std::strerror(errno);
        return false;
    }
    // Raw 8N1 on the slave: no echo, no line editing, no CR/LF translation, so that
    // every byte the host writes reaches the target unchanged.
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(pty.slaveHold, TCSANOW, &settings) != 0) {
        error = std::string("tcsetattr() failed: ") + std::strerror(errno);
        return false;
    }
    if (rate && !PtySetLineRate(pty.slaveHold, rate)) {
        error = "can't set the pseudo-terminal to " + std::to_string(rate) + " baud";
        return false;
    }
    int flags = fcntl(pty.master, F_GETFL);
    fcntl(pty.master, F_SETFL, flags | O_NONBLOCK);
    pty.hostWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (pty.hostWatch < 0 || inotify_add_watch(pty.hostWatch, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        error = std::string("inotify on the terminal failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool PtyAllowReopen(const Pty& pty) {
    alignas(inotify_event) char events[4096];
    bool opened = false;
    ssize_t n;
    while ((n = read(pty.hostWatch, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->mask & IN_OPEN) opened = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ioctl(pty.slaveHold, TIOCNXCL);
    return opened;
}

void PtyClose(Pty& pty) {
    if (pty.hostWatch >= 0) close(pty.hostWatch);
    if (pty.slaveHold >= 0) close(pty.slaveHold);
    if (pty.master >= 0) close(pty.master);
    pty.hostWatch = pty.slaveHold = pty.master = -1;
}

size_t PtyUnreadByHost(const Pty& pty) {
    int count = 0;
    if (ioctl(pty.slaveHold, TIOCINQ, &count) != 0) return 0;
    return count > 0 ? static_cast<size_t>(count) : 0;
}
