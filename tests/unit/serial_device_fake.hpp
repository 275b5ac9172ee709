// A serial device layer that passes everything to the system's but keeps what a
// pseudo-terminal hides: the character format set last and the modem lines.
#pragma once

#include <string>
#include <vector>

#include "platform/serial_device.hpp"

class RecordingDevice : public serialdev::Device {
public:
    std::vector<serialdev::LineSettings> lines;  // every SetLine, in order
    std::vector<std::string> modem;              // "DTR on", "RTS off", ... in order
    int openErrno = 0;                           // Open fails with this when not 0

    int Open(const std::string& path) override {
        if (openErrno) {
            errno = openErrno;
            return -1;
        }
        return sys().Open(path);
    }
    bool Probe(const std::string& path) override { return sys().Probe(path); }
    bool CanReadLine(int fd) override { return sys().CanReadLine(fd); }
    bool SetLine(int fd, const serialdev::LineSettings& line) override {
        lines.push_back(line);
        return sys().SetLine(fd, line);
    }
    size_t ReadTimed(int fd, uint8_t* buf, size_t n, uint32_t intervalMs, uint32_t totalMs) override {
        return sys().ReadTimed(fd, buf, n, intervalMs, totalMs);
    }
    size_t ReadAvailable(int fd, uint8_t* buf, size_t n, uint32_t waitUs) override {
        return sys().ReadAvailable(fd, buf, n, waitUs);
    }
    long WriteAll(int fd, const uint8_t* data, size_t n) override { return sys().WriteAll(fd, data, n); }
    long WriteAllGather(int fd, const struct iovec* pieces, int count) override {
        return sys().WriteAllGather(fd, pieces, count);
    }
    size_t InputWaiting(int fd) override { return sys().InputWaiting(fd); }
    void Flush(int fd) override { sys().Flush(fd); }
    void FlushInput(int fd) override { sys().FlushInput(fd); }
    bool SetDtr(int, bool on) override { return Modem("DTR", on); }
    bool SetRts(int, bool on) override { return Modem("RTS", on); }
    bool SetBreak(int fd, bool on) override { return sys().SetBreak(fd, on); }
    bool RestoreAndClose(int fd) override { return sys().RestoreAndClose(fd); }

    // The level a modem line has now ("" before any change).
    std::string Level(const std::string& line) const {
        for (auto it = modem.rbegin(); it != modem.rend(); ++it)
            if (it->rfind(line, 0) == 0) return it->substr(line.size() + 1);
        return "";
    }

private:
    static serialdev::Device& sys() { return serialdev::System(); }
    bool Modem(const char* line, bool on) {
        modem.push_back(std::string(line) + (on ? " on" : " off"));
        return true;
    }
};
