// vorlo-sim: a simulated target with a serial bootloader, on a pseudo-terminal.
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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

int main(int argc, char** argv) {
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
