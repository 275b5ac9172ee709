// vorlo-sim: a simulated target with a serial bootloader, on a pseudo-terminal.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "dump.hpp"
#include "options.hpp"
#include "protocol.hpp"
#include "pty.hpp"
#include "simulator.hpp"
#include "wire_log.hpp"

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitFailure = 70;
constexpr int kExitInactivity = 2;

int Fail(const std::string& text) {
    std::fprintf(stderr, "vorlo-sim: %s\n", text.c_str());
    return kExitFailure;
}

bool MakeLink(const std::string& target, const std::string& link, std::string& error) {
    struct stat info {};
    // Replace a link left by an earlier run, but never a real file.
    if (lstat(link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = link + " exists and is not a symbolic link";
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        error = "can't create the link " + link;
        return false;
    }
    return true;
}

bool WriteDumps(const SimOptions& options, const TargetMemory& memory) {
    bool ok = true;
    if (!options.dumpHex.empty() && !DumpIntelHex(memory, options.dumpHex)) {
        std::fprintf(stderr, "vorlo-sim: can't write %s\n", options.dumpHex.c_str());
        ok = false;
    }
    if (!options.dumpBin.empty() && !DumpBinary(memory, options.dumpBin)) {
        std::fprintf(stderr, "vorlo-sim: can't write %s\n", options.dumpBin.c_str());
        ok = false;
    }
    return ok;
}

}  // namespace

// One simulated target: the whole run of vorlo-sim without --count.
int RunOne(int argc, char** argv) {
    SimOptions options;
    std::string error;
    switch (ParseOptions(argc, argv, options, error)) {
    case ParseResult::Help:
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    case ParseResult::Error:
        std::fprintf(stderr, "vorlo-sim: %s\nTry vorlo-sim --help.\n", error.c_str());
        return kExitUsage;
    case ParseResult::Run:
        break;
    }

    SimInstallSignals();
    SimTime start = SimClock::now();
    WireLog log(start);
    if (!options.logPath.empty() && !log.Open(options.logPath)) return Fail("can't open " + options.logPath);

    TargetMemory memory(options.flashBase,
                        options.sectorSizes.empty() ? UniformSectors(options.flashSize) : options.sectorSizes,
                        options.ramBase, options.ramSize, options.overwrite);
    if (!options.load.empty() && !LoadIntelHex(memory, options.load, error)) return Fail(error);

    Pty pty;
    if (!PtyOpen(pty, options.baud, error)) return Fail(error);
    if (!options.link.empty() && !MakeLink(pty.slavePath, options.link, error)) return Fail(error);
    std::printf("%s\n", pty.slavePath.c_str());
    std::fflush(stdout);

    std::unique_ptr<Protocol> protocol = options.protocol->create(*options.settings);
    Simulator simulator(options, pty, *protocol, memory, log);
    EndReason reason = simulator.Run();

    simulator.Note(reason == EndReason::Exec ? "end after start of code"
                   : reason == EndReason::Signal ? "end on signal"
                                                 : "end after a time without traffic");
    bool dumped = WriteDumps(options, memory);
    if (!options.link.empty()) unlink(options.link.c_str());
    PtyClose(pty);
    if (!dumped) return kExitFailure;
    return reason == EndReason::Inactivity ? kExitInactivity : 0;
}

namespace {
// "--count=N": N targets, one process each. Options before the first "--target=K" are
// every target's; those after it are target K's (until the next "--target="). In the
// file options, "%n" stands for the target's number; without it the number goes in
// front of the file's extension (out.hex: out-1.hex, out-2.hex ...).
std::string Numbered(const std::string& path, int n) {
    const std::string number = std::to_string(n);
    size_t at = path.find("%n");
    if (at != std::string::npos) return path.substr(0, at) + number + path.substr(at + 2);
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        return path + "-" + number;
    return path.substr(0, dot) + "-" + number + path.substr(dot);
}

std::string ForTarget(const std::string& arg, int n) {
    for (const char* option : {"--dump=", "--dump-bin=", "--log=", "--link=", "--load="})
        if (arg.rfind(option, 0) == 0) return option + Numbered(arg.substr(strlen(option)), n);
    return arg;
}

volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

int RunMany(int count, const std::vector<std::string>& common, const std::vector<std::vector<std::string>>& own) {
    std::vector<pid_t> children;
    std::vector<int> pipes;
    for (int n = 1; n <= count; ++n) {
        std::vector<std::string> args = {"vorlo-sim"};
        for (const std::string& a : common) args.push_back(ForTarget(a, n));
        for (const std::string& a : own[n]) args.push_back(ForTarget(a, n));
        int fds[2];
        if (pipe(fds) != 0) return Fail("can't create a pipe");
        pid_t child = fork();
        if (child < 0) return Fail("can't start a target");
        if (child == 0) {
            close(fds[0]);
            dup2(fds[1], 1);
            close(fds[1]);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            std::exit(RunOne(static_cast<int>(args.size()), argv.data()));
        }
        close(fds[1]);
        children.push_back(child);
        pipes.push_back(fds[0]);
    }
    // The terminals' paths in the targets' order, one line each, as a single target prints
    // its own; a target that could not start prints nothing and ends with its code.
    for (int fd : pipes) {
        std::string line;
        char c;
        while (read(fd, &c, 1) == 1 && c != '\n') line += c;
        if (!line.empty()) std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        close(fd);
    }
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    int worst = 0;
    size_t running = children.size();
    bool forwarded = false;
    while (running > 0) {
        if (g_stop && !forwarded) {
            for (pid_t child : children) kill(child, SIGTERM);
            forwarded = true;
        }
        int status = 0;
        pid_t done = waitpid(-1, &status, 0);
        if (done < 0) {
            if (errno == EINTR) continue;
            break;
        }
        --running;
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : 70;
        worst = std::max(worst, code);
    }
    return worst;
}
}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    std::vector<std::string> common;
    std::vector<std::vector<std::string>> own(1);
    int target = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--count=", 0) == 0) {
            count = std::atoi(a.c_str() + 8);
            if (count < 1 || count > 64) {
                std::fprintf(stderr, "vorlo-sim: --count takes 1 to 64 targets\nTry vorlo-sim --help.\n");
                return kExitUsage;
            }
        } else if (a.rfind("--target=", 0) == 0) {
            target = std::atoi(a.c_str() + 9);
        } else if (target > 0) {
            if (static_cast<int>(own.size()) <= target) own.resize(target + 1);
            own[target].push_back(a);
        } else {
            common.push_back(a);
        }
    }
    if (count == 0) {
        if (target > 0) {
            std::fprintf(stderr, "vorlo-sim: --target needs --count\nTry vorlo-sim --help.\n");
            return kExitUsage;
        }
        return RunOne(argc, argv);
    }
    if (static_cast<int>(own.size()) > count + 1) {
        std::fprintf(stderr, "vorlo-sim: --target=%zu beyond --count=%d\nTry vorlo-sim --help.\n", own.size() - 1, count);
        return kExitUsage;
    }
    own.resize(count + 1);
    return RunMany(count, common, own);
}
