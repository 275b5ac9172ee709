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
    std::string out = dir_ + "/stdout.txt", err = dir_ + "/stderr.txt";
    pid_ = fork();
    if (pid_ == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int in = open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        for (const auto& [key, value] : env) setenv(key.c_str(), value.c_str(), 1);
        // The test's temporary directory also holds the daemon's command file.
        setenv("TMP", dir_.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(VORLO_BIN)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VORLO_BIN, argv.data());
        _exit(127);
    }
    if (waitListening) WaitListening("127.0.0.1", port_, 10000);
}

DaemonProcess::~DaemonProcess() {
    if (Running()) {
        // SIGTERM lets the daemon remove its command file; SIGKILL if it does not end.
        kill(pid_, SIGTERM);
        if (Wait(2000) == -1 && pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
}

int DaemonProcess::Wait(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        if (MsLeft(deadline) == 0) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exitCode_;
}

bool DaemonProcess::Running() {
    if (pid_ < 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -2 - WTERMSIG(status);
    pid_ = -1;
    return false;
}

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
