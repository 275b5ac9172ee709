#include "support/process.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The child's end of one standard stream: the file, or the write end of a new pipe
// whose read end the parent keeps.
int ChildEnd(const std::string& file, int& parentEnd) {
    if (!file.empty()) return open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    parentEnd = ends[0];
    return ends[1];
}
}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ProcessOptions& options) {
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    int out = ChildEnd(options.outFile, out_);
    int err = ChildEnd(options.errFile, err_);
    pid_ = fork();
    if (pid_ == 0) {
        // Signals the test process blocks must not stay blocked in the child.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(in[0], 0);
        dup2(out, 1);
        dup2(err, 2);
        for (const auto& [key, value] : options.env) setenv(key.c_str(), value.c_str(), 1);
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out);
    close(err);
    if (!options.input.empty()) (void)!write(in[1], options.input.data(), options.input.size());
    close(in[1]);
}

ChildProcess::~ChildProcess() {
    if (Running()) Stop(2000);
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

std::string ChildProcess::ReadLine(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t end = pendingOut_.find('\n');
        if (end != std::string::npos) {
            std::string line = pendingOut_.substr(0, end);
            pendingOut_.erase(0, end + 1);
            return line;
        }
        pollfd p{out_, POLLIN, 0};
        if (out_ < 0 || poll(&p, 1, MsLeft(deadline)) <= 0) return "";
        char buffer[256];
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) return "";
        pendingOut_.append(buffer, static_cast<size_t>(n));
    }
}

bool ChildProcess::Collect(std::string& out, std::string& err, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    out += pendingOut_;
    pendingOut_.clear();
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        int left = MsLeft(deadline);
        if (left == 0) {
            kill(pid_, SIGKILL);
            return false;
        }
        if (poll(fds, 2, left) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[65536];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
                (i == 0 ? out : err).append(buffer, static_cast<size_t>(n));
            else
                fds[i].fd = -1;
        }
    }
    return true;
}

bool ChildProcess::Running() {
    if (pid_ < 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -2 - WTERMSIG(status);
    pid_ = -1;
    return false;
}

int ChildProcess::Wait(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        if (MsLeft(deadline) == 0) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exitCode_;
}

int ChildProcess::Stop(int graceMs) {
    if (!Running()) return exitCode_;
    kill(pid_, SIGTERM);
    if (Wait(graceMs) == -1 && Running()) {
        kill(pid_, SIGKILL);
        Wait(5000);
    }
    return exitCode_;
}
