#include "sim/sim_process.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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
    int outPipe[2];
    if (pipe(outPipe) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(outPipe[1], 1);
        int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) dup2(err, 2);
        close(outPipe[0]);
        close(outPipe[1]);
        std::vector<std::string> all = {VORLO_SIM_BIN, "--timeout=60"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(VORLO_SIM_BIN, argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    // The first line is the terminal's path.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char c;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{outPipe[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        if (read(outPipe[0], &c, 1) != 1 || c == '\n') break;
        path_ += c;
    }
    close(outPipe[0]);
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
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
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
    if (exited_) return exitCode_;
    for (int waited = 0; waited <= timeoutMs; waited += 5) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return exitCode_;
        }
        usleep(5000);
    }
    return -1;
}

int SimProcess::Stop() {
    if (!exited_ && pid_ > 0) kill(pid_, SIGTERM);
    int code = WaitExit(5000);
    if (code == -1 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        exited_ = true;
    }
    return code;
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
