#include "sim/sim_process.hpp"

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
    process_ = std::make_unique<ChildProcess>(VORLO_SIM_BIN, all, ProcessOptions{{}, "", "", "", errPath_});
    path_ = process_->ReadLine(10000);  // the first line is the terminal's path
    if (path_.empty()) return;
    fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, baud);
    cfsetospeed(&t, baud);
    tcsetattr(fd_, TCSANOW, &t);
    SetTwoStopBits(twoStopBits);
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
