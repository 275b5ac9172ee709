// Serial devices on Linux through termios2 (any baud rate with BOTHER), modem-line
// ioctls and poll on the monotonic clock. glibc's <termios.h> cannot be combined with
// the kernel's termios2, so this file talks to the kernel headers only.
#include "platform/serial_device.hpp"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <unistd.h>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

#ifndef TIOCM_DTR
#define TIOCM_DTR 0x002
#define TIOCM_RTS 0x004
#endif

namespace serialdev {
namespace {

struct SavedState {
    struct termios2 settings;
    bool modemKnown;
    int modemBits;
};

uint64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// Standard rates keep their Bnnn code for drivers that know nothing else; every
// other rate goes to the kernel as a number with BOTHER.
struct BaudCode {
    uint32_t rate;
    unsigned code;
};
const BaudCode kBaudCodes[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

void MakeRaw(struct termios2& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    // Reads are timed with poll; the driver returns whatever is there.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

// Closes a half-opened device and fails with `err`, which close() must not overwrite.
int FailClosed(int fd, int err) {
    close(fd);
    errno = err;
    return -1;
}

int OpenExclusive(const std::string& path) {
    // O_NONBLOCK so that a port without carrier does not hang the open.
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return FailClosed(fd, errno == EWOULDBLOCK ? EBUSY : errno);
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return FailClosed(fd, errno);  // not a terminal
    if (ioctl(fd, TIOCEXCL) != 0) return FailClosed(fd, errno);
    return fd;
}
}  // namespace

std::string DevicePath(const char* portName) {
    std::string name = portName ? portName : "";
    if (name.find('/') != std::string::npos) return name;
    if (name.size() > 3 && strncasecmp(name.c_str(), "COM", 3) == 0) {
        bool digits = true;
        for (size_t i = 3; i < name.size(); ++i)
            if (name[i] < '0' || name[i] > '9') digits = false;
        if (digits) {
            long n = strtol(name.c_str() + 3, nullptr, 10);
            if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    return "/dev/" + name;
}

namespace {
// Why an open failed, in the words a user can act on. Permission is the usual first-run
// failure on Linux: serial devices belong to the dialout group.
OpenFailure FailureOf(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return {"Permission denied",
                "Serial devices belong to the dialout group: sudo usermod -aG dialout $USER, then log in again."};
    case ENOENT:
    case ENODEV:
    case ENXIO: return {"No such device", ""};
    case EBUSY:
    case EWOULDBLOCK: return {"In use by another program", ""};
    default: return {strerror(err), ""};
    }
}

class LinuxPort : public Port {
    int fd_;
    SavedState saved_;  // what the device had before it was opened, given back at close
    int lastErrno_ = 0;

    long Failed(long result) {
        lastErrno_ = errno;
        return result;
    }

public:
    LinuxPort(int fd, const SavedState& saved) : fd_(fd), saved_(saved) {}
    ~LinuxPort() override {
        if (fd_ >= 0) close(fd_);
    }

    bool CanReadLine() override {
        struct termios2 t;
        return ioctl(fd_, TCGETS2, &t) == 0;
    }

    bool SetLine(const LineSettings& line) override {
        const uint32_t baud = line.baud;
        struct termios2 t;
        if (ioctl(fd_, TCGETS2, &t) != 0) return false;
        MakeRaw(t);

        t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
        unsigned code = BOTHER;
        for (const BaudCode& b : kBaudCodes)
            if (b.rate == baud) code = b.code;
        t.c_cflag |= code | (code << IBSHIFT);
        t.c_ispeed = baud;
        t.c_ospeed = baud;

        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
        switch (line.dataBits) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        case 8: t.c_cflag |= CS8; break;
        default: errno = EINVAL; return false;  // 4 data bits: no UART under Linux does them
        }

        t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
        t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
        switch (line.parity) {
        case 0: break;
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;  // mark: the parity bit is always 1
        case 4: t.c_cflag |= PARENB | CMSPAR; break;           // space: always 0
        default: errno = EINVAL; return false;
        }

        // One and a half stop bits exist only with 5 data bits; the kernel offers CSTOPB,
        // which the UART turns into 1.5 there and 2 elsewhere.
        if (line.stopBits == 0)
            t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
        else
            t.c_cflag |= CSTOPB;

        return ioctl(fd_, TCSETS2, &t) == 0;
    }

    size_t ReadTimed(uint8_t* buf, size_t n, uint32_t intervalMs, uint32_t totalMs) override {
        size_t got = 0;
        uint64_t start = NowMs();
        uint64_t lastByte = start;
        while (got < n) {
            const int64_t wait = ReadWaitMs(start, lastByte, NowMs(), got, intervalMs, totalMs);
            if (wait == 0) break;
            pollfd p{fd_, POLLIN, 0};
            int r = poll(&p, 1, static_cast<int>(wait));
            if (r < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (r == 0) break;
            if (!(p.revents & POLLIN)) break;  // hang-up or error: the device is gone
            ssize_t k = read(fd_, buf + got, n - got);
            if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (k <= 0) break;
            got += static_cast<size_t>(k);
            lastByte = NowMs();
        }
        return got;
    }

    size_t ReadAvailable(uint8_t* buf, size_t n, uint32_t waitUs) override {
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            timespec wait{static_cast<time_t>(waitUs / 1000000u), static_cast<long>(waitUs % 1000000u) * 1000L};
            int r = ppoll(&p, 1, &wait, nullptr);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0 || !(p.revents & POLLIN)) return 0;
            ssize_t k = read(fd_, buf, n);
            if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return k > 0 ? static_cast<size_t>(k) : 0;
        }
    }

    long WriteAll(const uint8_t* data, size_t n) override {
        size_t done = 0;
        while (done < n) {
            ssize_t k = write(fd_, data + done, n - done);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) return Failed(static_cast<long>(done));
            done += static_cast<size_t>(k);
        }
        return static_cast<long>(done);
    }

    long WriteGather(const Piece* pieces, int count) override {
        iovec rest[8];
        if (count > 8) return -1;
        for (int i = 0; i < count; ++i) rest[i] = {const_cast<void*>(pieces[i].data), pieces[i].size};
        iovec* next = rest;
        long done = 0;
        while (count > 0) {
            ssize_t k = writev(fd_, next, count);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) return Failed(done);
            done += k;
            // Step over what went out; a partial write resumes inside a piece.
            while (count > 0 && static_cast<size_t>(k) >= next->iov_len) {
                k -= static_cast<ssize_t>(next->iov_len);
                ++next;
                --count;
            }
            if (count > 0) {
                next->iov_base = static_cast<uint8_t*>(next->iov_base) + k;
                next->iov_len -= static_cast<size_t>(k);
            }
        }
        return done;
    }

    size_t InputWaiting() override {
        int n = 0;
        if (ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return 0;
        return static_cast<size_t>(n);
    }

    void Flush() override { ioctl(fd_, TCFLSH, TCIOFLUSH); }

    void FlushInput() override { ioctl(fd_, TCFLSH, TCIFLUSH); }

    bool SetDtr(bool on) override {
        int bits = TIOCM_DTR;
        return ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
    }

    bool SetRts(bool on) override {
        int bits = TIOCM_RTS;
        return ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
    }

    bool SetBreak(bool on) override { return ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0; }

    bool RestoreAndClose() override {
        ioctl(fd_, TCSETS2, &saved_.settings);
        if (saved_.modemKnown) ioctl(fd_, TIOCMSET, &saved_.modemBits);
        Flush();
        usleep(1000);
        Flush();
        ioctl(fd_, TIOCNXCL);  // another holder of the device keeps it otherwise locked
        int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

    long Id() const override { return fd_; }
    std::string LastError() const override { return std::to_string(lastErrno_) + " (" + strerror(lastErrno_) + ")"; }
};

class LinuxDevice : public Device {
public:
    std::unique_ptr<Port> Open(const std::string& path, OpenFailure& failure) override {
        // Waits of a few character times must end on time: at 921600 baud a character
        // lasts 11 us, far below the default timer slack of 50 us.
        prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
        int fd = OpenExclusive(path);
        if (fd < 0) {
            failure = FailureOf(errno);
            return nullptr;
        }
        SavedState saved{};
        ioctl(fd, TCGETS2, &saved.settings);
        saved.modemKnown = ioctl(fd, TIOCMGET, &saved.modemBits) == 0;

        struct termios2 t = saved.settings;
        MakeRaw(t);
        ioctl(fd, TCSETS2, &t);
        // Back to blocking writes: a write returns when the driver took every byte.
        int flags = fcntl(fd, F_GETFL);
        if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        return std::make_unique<LinuxPort>(fd, saved);
    }

    bool Probe(const std::string& path) override {
        int fd = OpenExclusive(path);
        if (fd < 0) return false;
        close(fd);
        return true;
    }
};
}  // namespace

Device& System() {
    static LinuxDevice device;
    return device;
}

const CallNames& SystemCallNames() {
    static const CallNames names{"TCGETS2 ioctl", "TCSETS2 ioctl", "write", "writev", "close", "errno"};
    return names;
}

}  // namespace serialdev
