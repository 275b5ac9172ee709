#include "sim/sim_process.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/process.hpp"
#include "support/run_vorlo.hpp"

Bytes HexBytes(const std::string& text) {
    Bytes bytes;
    std::string digits;
    for (char c : text)
        if (isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string HexText(const Bytes& bytes) {
    std::string text;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, text.empty() ? "%02X" : " %02X", v);
        text += b;
    }
    return text;
}

SimProcess::SimProcess(const std::vector<std::string>& args, speed_t baud, bool twoStopBits) {
    errPath_ = MakeTempDir() + "/stderr.txt";
    std::vector<std::string> all = {"--timeout=60"};
    all.insert(all.end(), args.begin(), args.end());
    process_ = std::make_unique<ChildProcess>(VORLO_SIM_BIN, all, ProcessOptions{kSimEnvironment, "", "", "", errPath_});
    path_ = process_->ReadLine(10000);  // the first line is the terminal's path
    if (path_.empty()) return;
    Open(baud);
    if (fd_ >= 0) SetTwoStopBits(twoStopBits);
}

void SimProcess::Open(speed_t baud) {
    fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, baud);
    cfsetospeed(&t, baud);
    tcsetattr(fd_, TCSANOW, &t);
}

void SimProcess::Reopen(speed_t baud) {
    if (fd_ >= 0) close(fd_);
    Open(baud);
}

SimProcess::~SimProcess() {
    if (fd_ >= 0) close(fd_);
}

void SimProcess::Send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            return;
        }
    }
}

Bytes SimProcess::Receive(size_t count, int timeoutMs) {
    Bytes bytes;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        uint8_t buffer[4096];
        ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

void SimProcess::SetBaud(speed_t baud) {
    termios t{};
    tcgetattr(fd_, &t);
    cfsetispeed(&t, baud);
    cfsetospeed(&t, baud);
    tcsetattr(fd_, TCSANOW, &t);
}

void SimProcess::SetTwoStopBits(bool two) {
    termios t{};
    tcgetattr(fd_, &t);
    t.c_cflag = two ? (t.c_cflag | CSTOPB) : (t.c_cflag & ~CSTOPB);
    tcsetattr(fd_, TCSANOW, &t);
}

int SimProcess::WaitExit(int timeoutMs) {
    int code = process_->Wait(timeoutMs);
    return code < 0 ? -1 : code;
}

int SimProcess::Stop() {
    int code = process_->Stop();
    return code < 0 ? -1 : code;
}

std::string SimProcess::ErrorOutput() const { return ReadFile(errPath_); }

uint16_t ReferenceCrc16(const Bytes& bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= static_cast<uint16_t>(b << 8);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

Bytes WriteFrame(uint32_t address, const Bytes& data) {
    Bytes covered = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address >> 16),
                     static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(data.size()),
                     static_cast<uint8_t>(data.size() >> 8)};
    covered.insert(covered.end(), data.begin(), data.end());
    uint16_t crc = ReferenceCrc16(covered);
    Bytes frame = {'W'};
    frame.insert(frame.end(), covered.begin(), covered.end());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

uint16_t ReferenceCrc16Modbus(const Bytes& bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

Bytes ModbusFrame(Bytes bytes) {
    uint16_t crc = ReferenceCrc16Modbus(bytes);
    bytes.push_back(static_cast<uint8_t>(crc));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    return bytes;
}

namespace {

std::string ReadLines(SimProcess& sim, size_t lines, int timeoutMs = 2000) {
    std::string text;
    while (lines > 0) {
        Bytes b = sim.Receive(1, timeoutMs);
        if (b.empty()) break;
        text += static_cast<char>(b[0]);
        if (b[0] == '\n') --lines;
    }
    return text;
}

std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

}  // namespace

std::string IspCommand(SimProcess& sim, const std::string& command, size_t lines, bool echo) {
    std::string line = command + "\r\n";
    sim.Send(Bytes(line.begin(), line.end()));
    std::string text = ReadLines(sim, lines + (echo ? 1 : 0));
    if (echo && text.compare(0, line.size(), line) == 0) text.erase(0, line.size());
    return text;
}

std::vector<std::string> UuLines(const Bytes& data) {
    auto ch = [](uint32_t v) { return static_cast<char>(v ? v + 32 : '`'); };
    std::vector<std::string> lines;
    for (size_t at = 0; at < data.size(); at += 45) {
        size_t n = std::min<size_t>(45, data.size() - at);
        std::string line(1, static_cast<char>(32 + n));
        for (size_t i = 0; i < n; i += 3) {
            uint32_t group = 0;
            for (size_t k = 0; k < 3; ++k) group = (group << 8) | (i + k < n ? data[at + i + k] : 0);
            for (int shift = 18; shift >= 0; shift -= 6) line += ch((group >> shift) & 0x3F);
        }
        lines.push_back(line);
    }
    return lines;
}

std::string IspWriteRam(SimProcess& sim, uint32_t address, const Bytes& data, bool badChecksum) {
    std::string result = Trim(IspCommand(sim, "W " + std::to_string(address) + " " + std::to_string(data.size())));
    if (result != "0") return result;
    std::vector<std::string> lines = UuLines(data);
    for (size_t first = 0; first < lines.size(); first += 20) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            uint32_t sum = 0;
            for (size_t i = first; i < std::min(first + 20, lines.size()); ++i) {
                IspCommand(sim, lines[i], 0);
                for (size_t k = i * 45; k < std::min(data.size(), (i + 1) * 45); ++k) sum += data[k];
            }
            std::string answer = Trim(IspCommand(sim, std::to_string(sum + (badChecksum ? 1 : 0))));
            badChecksum = false;
            result += " " + answer;
            if (answer != "RESEND") break;
        }
    }
    return result;
}

Bytes BslPacket(uint8_t command, const Bytes& data) {
    Bytes core = {command};
    core.insert(core.end(), data.begin(), data.end());
    uint16_t crc = ReferenceCrc16(core);
    Bytes packet = {0x80, static_cast<uint8_t>(core.size()), static_cast<uint8_t>(core.size() >> 8)};
    packet.insert(packet.end(), core.begin(), core.end());
    packet.push_back(static_cast<uint8_t>(crc));
    packet.push_back(static_cast<uint8_t>(crc >> 8));
    return packet;
}

std::string BslAnswer(SimProcess& sim, bool response) {
    Bytes ack = sim.Receive(1, 2000);
    if (ack != Bytes{0x00} || !response) return HexText(ack);
    Bytes head = sim.Receive(3, 1000);
    size_t length = head.size() == 3 ? head[1] | (head[2] << 8) : 0;
    Bytes rest = sim.Receive(length + 2, 1000);
    Bytes payload(rest.begin(), rest.begin() + std::min(length, rest.size()));
    bool intact = head.size() == 3 && head[0] == 0x80 && length > 0 && rest.size() == length + 2 &&
                  ReferenceCrc16(payload) == (rest[length] | (rest[length + 1] << 8));
    if (!intact) return HexText(ack) + " " + HexText(head) + " " + HexText(rest) + " BROKEN";
    return HexText(ack) + " " + HexText(payload);
}
