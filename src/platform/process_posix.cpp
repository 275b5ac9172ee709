#include "platform/process.hpp"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

std::string SelfExecutablePath() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0) return {};
    path[n] = '\0';
    return path;
}

std::string TempDirectory() {
    for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
        const char* value = getenv(name);
        if (value && *value) return value;
    }
    return "/tmp";
}

int CreateUniqueTempFile(std::string& path) {
    std::string pattern = TempDirectory();
    if (pattern.back() != '/') pattern += '/';
    pattern += "HCPXXXXXX.tmp";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = mkstemps(buffer.data(), 4);
    if (fd >= 0) path = buffer.data();
    else path = pattern;
    return fd;
}

uint32_t TickCountMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

bool StartDetachedCopy(const char* argv0, const char* const* extraArgs) {
    std::string self = SelfExecutablePath();
    if (self.empty()) self = argv0;
    std::vector<char*> args;
    args.push_back(const_cast<char*>(argv0));
    for (const char* const* a = extraArgs; a && *a; ++a) args.push_back(const_cast<char*>(*a));
    args.push_back(nullptr);

    // A pipe closed on exec tells the parent whether the exec succeeded.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        close(report[0]);
        // The grandchild is the daemon: the first child exits at once, so the daemon
        // is never a zombie of the starting process.
        pid_t daemon = fork();
        if (daemon != 0) _exit(daemon < 0 ? 1 : 0);
        setsid();
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            if (null > 2) close(null);
        }
        execv(self.c_str(), args.data());
        char failed = 1;
        (void)!write(report[1], &failed, 1);
        _exit(127);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    char failed = 0;
    ssize_t n = read(report[0], &failed, 1);
    close(report[0]);
    return n == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
