// A pseudo-terminal pair for tests: the program opens the slave as its serial port,
// the test plays the device on the master. Settings read on the master are the slave's.
#pragma once

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

class PtyPair {
public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            char name[128];
            if (ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
        }
        // Keep a slave open while the program under test closes and reopens it, so
        // the master never reads a hang-up in between.
        if (!slave_.empty()) holder_ = open(slave_.c_str(), O_RDWR | O_NOCTTY);
        MakeRawSlave();
    }
    ~PtyPair() {
        if (holder_ >= 0) close(holder_);
        if (master_ >= 0) close(master_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slave_; }
    int Master() const { return master_; }

    // The slave's settings as seen through the master.
    struct termios2 Settings() const {
        struct termios2 t {};
        ioctl(master_, TCGETS2, &t);
        return t;
    }

    void Send(const std::vector<uint8_t>& bytes) const {
        if (!bytes.empty()) (void)!write(master_, bytes.data(), bytes.size());
    }

    // Reads what the program wrote, until n bytes came or timeoutMs passed.
    std::vector<uint8_t> Receive(size_t n, int timeoutMs = 1000) const {
        std::vector<uint8_t> got;
        while (got.size() < n) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) break;
            uint8_t buf[256];
            ssize_t k = read(master_, buf, std::min(sizeof buf, n - got.size()));
            if (k <= 0) break;
            got.insert(got.end(), buf, buf + k);
        }
        return got;
    }

private:
    // The slave starts in cooked mode with echo; a device has neither.
    void MakeRawSlave() {
        if (holder_ < 0) return;
        struct termios2 t {};
        ioctl(holder_, TCGETS2, &t);
        t.c_iflag = 0;
        t.c_oflag = 0;
        t.c_lflag = 0;
        ioctl(holder_, TCSETS2, &t);
    }

    int master_ = -1;
    int holder_ = -1;
    std::string slave_;
};
