#include "platform/process.hpp"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

std::string SelfExecutablePath() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0) return {};
    path[n] = '\0';
    return path;
}

bool CreateUniqueTempFile(std::string& path) {
    // A folder that is missing or not writable is passed over for the next one, so that
    // a stale TMPDIR does not stop every command.
    std::vector<std::string> folders;
    for (const char* name : {"TMP", "TEMP", "TMPDIR"})
        if (const char* value = getenv(name); value && *value) folders.push_back(value);
    folders.push_back("/tmp");
    int fd = -1;
    for (std::string pattern : folders) {
        if (pattern.back() != '/') pattern += '/';
        pattern += "HCPXXXXXX.tmp";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        fd = mkstemps(buffer.data(), 4);
        path = fd >= 0 ? buffer.data() : pattern;
        if (fd >= 0) break;
    }
    if (fd >= 0) close(fd);
    return fd >= 0;
}

std::string CreateUniqueTempDir(const char* prefix) {
    std::vector<std::string> folders;
    for (const char* name : {"TMP", "TEMP", "TMPDIR"})
        if (const char* value = getenv(name); value && *value) folders.push_back(value);
    folders.push_back("/tmp");
    for (std::string pattern : folders) {
        if (pattern.back() != '/') pattern += '/';
        pattern += std::string(prefix) + "XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data())) return buffer.data();
    }
    return "";
}

uint32_t TickCountMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

uint64_t MonotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

void SleepUs(uint32_t microseconds) {
    timespec wait{static_cast<time_t>(microseconds / 1000000u), static_cast<long>(microseconds % 1000000u) * 1000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

void SleepMs(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

namespace {
// Names the descriptor of the status pipe in a copy started by StartDetachedCopy.
constexpr const char* kStarterFdVariable = "VORLO_STARTER_FD";

void StreamsToNull() {
    int null = open("/dev/null", O_RDWR);
    if (null < 0) return;
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (null > 2) close(null);
}
}  // namespace

namespace {
// Waits up to timeoutMs for the copy's report line and closes the pipe. False when the
// copy ended or the time passed without a report.
bool WaitStarterReport(int statusFd, std::string& text, uint32_t timeoutMs);
}  // namespace

bool StartDetachedCopy(const char* argv0, const char* const* extraArgs, std::string& report, uint32_t reportTimeoutMs) {
    int statusChannel = -1;
    int* statusFd = &statusChannel;
    std::string self = SelfExecutablePath();
    if (self.empty()) self = argv0;
    std::vector<char*> args;
    args.push_back(const_cast<char*>(argv0));
    for (const char* const* a = extraArgs; a && *a; ++a) args.push_back(const_cast<char*>(*a));
    args.push_back(nullptr);

    // A pipe closed on exec tells the parent whether the exec succeeded.
    int execReport[2];
    if (pipe2(execReport, O_CLOEXEC) != 0) return false;
    // The status pipe's write end stays open across exec; its number is handed over in
    // the environment, which is built here because the child may not allocate.
    int status[2] = {-1, -1};
    std::string statusEntry;
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, kStarterFdVariable, strlen(kStarterFdVariable)) != 0 ||
            (*e)[strlen(kStarterFdVariable)] != '=')
            env.push_back(*e);
    if (statusFd) {
        if (pipe2(status, O_CLOEXEC) != 0) {
            close(execReport[0]);
            close(execReport[1]);
            return false;
        }
        statusEntry = std::string(kStarterFdVariable) + "=" + std::to_string(status[1]);
        env.push_back(statusEntry.data());
    }
    env.push_back(nullptr);

    pid_t child = fork();
    if (child < 0) {
        for (int fd : {execReport[0], execReport[1], status[0], status[1]})
            if (fd >= 0) close(fd);
        return false;
    }
    if (child == 0) {
        close(execReport[0]);
        if (status[0] >= 0) close(status[0]);
        // The grandchild is the daemon: the first child exits at once, so the daemon
        // is never a zombie of the starting process.
        pid_t daemon = fork();
        if (daemon != 0) _exit(daemon < 0 ? 1 : 0);
        setsid();
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        StreamsToNull();
        // The copy inherits nothing of this process but its status pipe: no command
        // file, no debug log, no port.
        if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0)
            for (int fd = 3; fd < 1024; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
        if (status[1] >= 0) fcntl(status[1], F_SETFD, 0);
        execve(self.c_str(), args.data(), env.data());
        char failed = 1;
        (void)!write(execReport[1], &failed, 1);
        _exit(127);
    }
    close(execReport[1]);
    if (status[1] >= 0) close(status[1]);
    int childStatus = 0;
    while (waitpid(child, &childStatus, 0) < 0 && errno == EINTR) {
    }
    char failed = 0;
    ssize_t n = read(execReport[0], &failed, 1);
    close(execReport[0]);
    bool started = n == 0 && WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0;
    if (!started) {
        close(status[0]);
        return false;
    }
    WaitStarterReport(status[0], report, reportTimeoutMs);
    return true;
}

void ReportToStarter(const char* text) {
    const char* value = getenv(kStarterFdVariable);
    if (!value) return;
    int fd = atoi(value);
    unsetenv(kStarterFdVariable);
    if (fd <= 2 || fcntl(fd, F_GETFD) < 0) return;
    std::string line = std::string(text) + "\n";
    (void)!write(fd, line.data(), line.size());
    close(fd);
}

namespace {
bool WaitStarterReport(int statusFd, std::string& text, uint32_t timeoutMs) {
    text.clear();
    uint32_t start = TickCountMs();
    bool complete = false;
    for (;;) {
        uint32_t spent = TickCountMs() - start;
        if (spent >= timeoutMs) break;
        pollfd wait{statusFd, POLLIN, 0};
        int ready = poll(&wait, 1, static_cast<int>(timeoutMs - spent));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[256];
        ssize_t n = read(statusFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
        size_t end = text.find('\n');
        if (end != std::string::npos) {
            text.resize(end);
            complete = true;
            break;
        }
    }
    close(statusFd);
    if (!complete) text.clear();
    return complete;
}
}  // namespace

void WatchInterrupts(void (*handler)(int signal)) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, handler]() {
        int signal = 0;
        while (sigwait(&set, &signal) != 0) {
        }
        handler(signal);
    }).detach();
}

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

void DetachFromConsole() {
    fflush(nullptr);
    setsid();
    StreamsToNull();
}

bool ChildEnded(int pid, int& code) {
    int status = 0;
    pid_t got = waitpid(pid, &status, WNOHANG);
    if (got != pid) return false;
    code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -1 - WTERMSIG(status) : -1;
    return true;
}

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void StopChild(int pid) {
    if (pid > 0) kill(pid, SIGTERM);
}

void KillChild(int pid) {
    if (pid > 0) kill(pid, SIGKILL);
}

bool OpenStatusChannel(StatusChannel& channel) {
    // Both ends closed on exec: the child's end is opened up in that child alone, so no
    // other child holds it and the reader sees its end when that child ends.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    channel.readEnd = ends[0];
    channel.writeEnd = ends[1];
    channel.childEnd = std::to_string(ends[1]);
    return true;
}

void CloseStatusChannel(StatusChannel& channel) {
    for (intptr_t* end : {&channel.readEnd, &channel.writeEnd})
        if (*end >= 0) {
            close(static_cast<int>(*end));
            *end = -1;
        }
}

int StartReportingChild(const std::string& program, const std::vector<std::string>& args,
                        const std::vector<std::string>& env, StatusChannel& channel) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Built before the fork: the child may not allocate.
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string& mine : env)
            if (strncmp(*e, mine.c_str(), mine.find('=') + 1) == 0) replaced = true;
        if (!replaced) envp.push_back(*e);
    }
    envp.push_back(nullptr);
    const int statusEnd = static_cast<int>(channel.writeEnd);
    pid_t child = statusEnd >= 0 ? fork() : -1;
    if (child == 0) {
        // The child: its streams, the signals a parent's sigwait thread keeps blocked
        // back on, nothing of the parent's open files but its own status channel.
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0)
            for (int fd = 3; fd < 1024; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(statusEnd, F_SETFD, 0);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (child < 0) {
        CloseStatusChannel(channel);
        return -1;
    }
    close(statusEnd);
    channel.writeEnd = -1;
    return child;
}

bool ReadStatusChannel(StatusChannel& channel, std::string& text) {
    if (channel.readEnd < 0) return false;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(static_cast<int>(channel.readEnd), buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        close(static_cast<int>(channel.readEnd));
        channel.readEnd = -1;
        return false;
    }
}

namespace {
std::atomic<int> g_statusFd{-1};  // this process's end of the channel to its parent
}  // namespace

bool AttachStatusChannel(const std::string& name) {
    char* end = nullptr;
    long fd = strtol(name.c_str(), &end, 10);
    // Only a pipe opened for writing, never a standard stream: events must not land in
    // a file or a socket that happens to have that number.
    struct stat info {};
    if (name.empty() || *end || fd <= 2 || fd > INT_MAX || fstat(static_cast<int>(fd), &info) != 0 ||
        !S_ISFIFO(info.st_mode) || (fcntl(static_cast<int>(fd), F_GETFL) & O_ACCMODE) != O_WRONLY)
        return false;
    // Not passed on to the processes this one starts.
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    g_statusFd = static_cast<int>(fd);
    return true;
}

void SendStatusLine(const std::string& line) {
    int fd = g_statusFd;
    if (fd < 0) return;
    const std::string text = line + "\n";
    // A pipe takes up to PIPE_BUF bytes in one piece: lines of two threads do not mix.
    for (size_t sent = 0; sent < text.size();) {
        ssize_t n = write(fd, text.data() + sent, text.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // The parent has gone: the run goes on without it.
            g_statusFd = -1;
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

int ExitCodeSeenByParent(int code) { return code & 0xFF; }
