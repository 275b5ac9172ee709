// The one way tests start a program: arguments, environment, where its output goes,
// and waiting for, stopping or killing it. A process still running when its object
// goes away gets SIGTERM (so it can clean up), then SIGKILL.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct ProcessOptions {
    std::map<std::string, std::string> env;  // added to (or replacing in) the environment
    std::string workDir;                     // empty: the current directory
    std::string input;                       // standard input (the rest is end of file)
    std::string outFile;                     // standard output into this file; empty: a pipe
    std::string errFile;                     // standard error into this file; empty: a pipe
};

// The environment vorlo-sim runs in for tests: the CPU emulator it links keeps a few
// allocations to the end of the process, which a sanitizer build would report as leaks.
inline const std::map<std::string, std::string> kSimEnvironment = {{"ASAN_OPTIONS", "detect_leaks=0"}};

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // The next line of its standard output pipe, without the line feed ("" after the time).
    std::string ReadLine(int timeoutMs);
    // Reads both pipes until the process closes them or the time is up (then it is
    // killed); false on the time-out.
    bool Collect(std::string& out, std::string& err, int timeoutMs);
    bool Running();
    // Its exit code once it ended, -1 while it runs, -2 - signal after a signal.
    int Wait(int timeoutMs);
    // SIGTERM, then SIGKILL after graceMs; the exit code as Wait gives it.
    int Stop(int graceMs = 5000);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int exitCode_ = -1;
    std::string pendingOut_;
};
