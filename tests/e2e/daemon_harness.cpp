#include "e2e/daemon_harness.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/process.hpp"
#include "support/run_vorlo.hpp"

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int ConnectSocket(const std::string& host, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &to.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool WaitListening(const std::string& host, uint16_t port, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!CanConnect(host, port)) {
        if (MsLeft(deadline) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
}  // namespace

uint16_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    socklen_t length = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
    close(fd);
    return ntohs(at.sin_port);
}

bool CanConnect(const std::string& host, uint16_t port) {
    int fd = ConnectSocket(host, port);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool WaitReady(uint16_t port, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    DaemonClient client(port);
    while (client.Request("STAT:", MsLeft(deadline)) != "READY") {
        if (MsLeft(deadline) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

DaemonProcess::DaemonProcess(const std::vector<std::string>& args, std::map<std::string, std::string> env,
                             bool waitListening) {
    dir_ = MakeTempDir();
    if (!env.count("VORLO_DAEMON_PORT")) env["VORLO_DAEMON_PORT"] = std::to_string(FreePort());
    port_ = static_cast<uint16_t>(std::stoi(env["VORLO_DAEMON_PORT"]));
    // The test's temporary directory also holds the daemon's command file.
    env["TMP"] = dir_;
    process_ = std::make_unique<ChildProcess>(VORLO_BIN, args,
                                              ProcessOptions{env, "", "", dir_ + "/stdout.txt", dir_ + "/stderr.txt"});
    if (waitListening) WaitListening("127.0.0.1", port_, 10000);
}

// SIGTERM lets the daemon remove its command file; the process object kills it if it
// does not end.
DaemonProcess::~DaemonProcess() = default;

int DaemonProcess::Wait(int timeoutMs) { return process_->Wait(timeoutMs); }
bool DaemonProcess::Running() { return process_->Running(); }

std::string DaemonProcess::Out() const { return ReadFile(dir_ + "/stdout.txt"); }
std::string DaemonProcess::Err() const { return ReadFile(dir_ + "/stderr.txt"); }

DetachedDaemons::DetachedDaemons() : port_(FreePort()) {
    std::random_device random;
    tag_ = std::to_string(getpid()) + "-" + std::to_string(random());
}

DetachedDaemons::~DetachedDaemons() {
    std::vector<pid_t> pids = Pids();
    for (pid_t pid : pids) kill(pid, SIGTERM);
    for (int i = 0; i < 200 && !Pids().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (pid_t pid : Pids()) kill(pid, SIGKILL);
}

std::map<std::string, std::string> DetachedDaemons::Env() const {
    return {{"VORLO_DAEMON_PORT", std::to_string(port_)}, {"VORLO_TEST_DAEMON_TAG", tag_}};
}

std::vector<pid_t> DetachedDaemons::Pids() const {
    std::vector<pid_t> pids;
    std::string marker = "VORLO_TEST_DAEMON_TAG=" + tag_;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
        pid_t pid = atoi(entry->d_name);
        if (pid <= 0) continue;
        std::string environ = ReadFile("/proc/" + std::string(entry->d_name) + "/environ");
        for (size_t at = 0; at < environ.size(); at += strlen(environ.c_str() + at) + 1) {
            if (marker == environ.c_str() + at) {
                pids.push_back(pid);
                break;
            }
        }
    }
    closedir(proc);
    return pids;
}

DaemonClient::DaemonClient(uint16_t port, const std::string& host) { fd_ = ConnectSocket(host, port); }

DaemonClient::~DaemonClient() { Close(); }

void DaemonClient::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void DaemonClient::SendRaw(const std::string& bytes) {
    if (fd_ >= 0) (void)!send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string DaemonClient::Request(const std::string& line, int timeoutMs) {
    SendRaw(line + "\r\n");
    return ReadLine(timeoutMs);
}

std::string DaemonClient::ReadLine(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t end = pending_.find("\r\n");
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 2);
            return line;
        }
        if (fd_ < 0) return "";
        pollfd wait{fd_, POLLIN, 0};
        if (poll(&wait, 1, MsLeft(deadline)) <= 0) return "";
        char buffer[1024];
        ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return "";
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

bool DaemonClient::ClosedByPeer(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0) {
        pollfd wait{fd_, POLLIN, 0};
        if (poll(&wait, 1, MsLeft(deadline)) <= 0) return false;
        char buffer[256];
        ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return true;
    }
    return false;
}
