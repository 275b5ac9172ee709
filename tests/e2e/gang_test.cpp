// A gang: the commands after --gang once per port, each in a process of its own, with one
// summary. Simulated targets from one vorlo-sim --count.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/daemon_harness.hpp"
#include "support/process.hpp"
#include "support/sim_upload.hpp"

namespace {
using namespace std::chrono_literals;

struct Targets {
    std::string dir = MakeTempDir();
    std::unique_ptr<ChildProcess> sim;
    std::vector<std::string> ports;
    Targets(int count, std::vector<std::string> args) {
        std::vector<std::string> all = {"--count=" + std::to_string(count), "--dump-bin=" + dir + "/memory.bin",
                                        "--log=" + dir + "/wire.log", "--timeout=60"};
        all.insert(all.end(), args.begin(), args.end());
        sim = std::make_unique<ChildProcess>(VORLO_SIM_BIN, all, ProcessOptions{kSimEnvironment, "", "", "", dir + "/sim.err"});
        for (int i = 0; i < count; ++i) ports.push_back(sim->ReadLine(10000));
    }
    std::string List() const {
        std::string list;
        for (const std::string& p : ports) list += (list.empty() ? "" : ",") + p;
        return list;
    }
    std::vector<uint8_t> Memory(int n) {
        std::string content = ReadFile(dir + "/memory-" + std::to_string(n) + ".bin");
        return std::vector<uint8_t>(content.begin(), content.end());
    }
};

// The pids of a process's children.
std::vector<pid_t> Children(pid_t pid) {
    std::vector<pid_t> children;
    std::string list = ReadFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    for (size_t at = 0; at < list.size();) {
        size_t end = list.find(' ', at);
        if (end == std::string::npos) end = list.size();
        if (end > at) children.push_back(std::stoi(list.substr(at, end - at)));
        at = end + 1;
    }
    return children;
}

class Gang : public SimUpload {};
}  // namespace

TEST_F(Gang, ProgramsTheGoodTargetsAndReportsTheFaultedOne) {
    CodeRecords records = {{0x0, Pattern(2000, 4)}};
    Targets t(4, {"--protocol=gen_iap", "--nak=15", "--target=3", "--fault=nak@W"});
    ASSERT_EQ(t.ports.size(), 4u);
    const std::string report = dir + "/report.json";
    // A target that names no part has none in the summary, whatever the child prints next.
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=AUTO,115200,8,N,1", "--importcode=" + HexFile(records),
                            "--gangreport=" + report, "--gang=" + t.List(), "--deviceinfo", "--erase", "--write"},
                           Options());
    EXPECT_EQ(r.exitCode, 70) << r.out << r.err;
    EXPECT_EQ(r.err, "\nERROR: Gang: 1 of 4 ports failed: " + t.ports[2]);
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;  // not a terminal: lines only
    EXPECT_TRUE(Contains(r.out, "\n" + t.ports[0] + ": done"));
    EXPECT_TRUE(Contains(r.out, "\n" + t.ports[2] + ": FAILED"));
    EXPECT_TRUE(Contains(r.out, "Gang summary:"));
    const std::string json = ReadFile(report);
    EXPECT_TRUE(Contains(json, "{\"port\": \"" + t.ports[0] + "\", \"target\": \"\", \"result\": \"ok\", \"exit\": 0"));
    EXPECT_TRUE(Contains(json, "\"port\": \"" + t.ports[2] + "\", \"target\": \"\", \"result\": \"failed\", \"exit\": 70"));
    EXPECT_TRUE(Contains(json, "\"message\": \"Programming failed.\"")) << json;
    t.sim->Stop();
    for (int n : {1, 2, 4}) EXPECT_EQ(t.Memory(n), MemoryImage(records, 2000)) << n;
    EXPECT_NE(t.Memory(3), MemoryImage(records, 2000));
}

// The children's own text goes nowhere the gang looks: silenced, they still tell it
// their part, their progress and how they ended.
TEST_F(Gang, SilencedChildrenStillReportTheirPartProgressAndResult) {
    CodeRecords records = {{0x0, Pattern(8192, 6)}};
    Targets t(2, {"--protocol=lpc_isp", "--part=LPC1768", "--baud=115200", "--target=2", "--fault=nak@checksum#3"});
    const std::string report = dir + "/report.json";
    RunResult r = RunVorlo({"--driver=LPC2000_ISP,12000", "--connection=AUTO,115200,8,N,1", "--importcode=" + HexFile(records),
                            "--gangreport=" + report, "--gang=" + t.List(), "--silent", "--erase", "--write"},
                           Options());
    EXPECT_EQ(r.exitCode, 70) << r.out << r.err;
    EXPECT_EQ(r.err, "\nERROR: Gang: 1 of 2 ports failed: " + t.ports[1]);
    for (const char* state : {": writing 0 %", ": done"})
        EXPECT_TRUE(Contains(r.out, "\n" + t.ports[0] + state)) << state << r.out;
    const std::string json = ReadFile(report);
    EXPECT_TRUE(Contains(json, "{\"port\": \"" + t.ports[0] +
                                   "\", \"target\": \"LPC1768, 512 kiB ROM / 64 kiB SRAM\", \"result\": \"ok\", \"exit\": 0"))
        << json;
    EXPECT_TRUE(Contains(json, "\"result\": \"failed\", \"exit\": 70, \"seconds\": ")) << json;
    EXPECT_TRUE(Contains(json, "\"message\": \"Programming failed.\"")) << json;
    // Named by hand, the channel is never a standard stream.
    r = RunVorlo({"--statuschannel=1", "--version"}, Options());
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: No status channel '1'.");
}

TEST_F(Gang, RefusesAPortNamedTwiceBeforeAnythingStarts) {
    Targets t(2, {"--protocol=gen_iap"});
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--gang=" + t.ports[0] + "," + t.ports[1] + "," + t.ports[0], "--erase"},
                           Options());
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: Port " + t.ports[0] + " is named twice in --gang (also as " + t.ports[0] + ").");
    t.sim->Stop();
    EXPECT_EQ(ReadFile(t.dir + "/wire-1.log").find("H>T"), std::string::npos);
    r = RunVorlo({"--driver=GEN_IAP", "--gang=" + t.ports[0]}, Options());
    EXPECT_EQ(r.err, "\nERROR: --gang runs the commands after it: none follow.");
}

// A child killed by a signal is that port's failure only; Ctrl+C stops every child and
// leaves no temporary file behind.
TEST_F(Gang, AKilledChildAndCtrlC) {
    CodeRecords records = {{0x0, Pattern(3000, 9)}};
    const std::string hex = HexFile(records);
    for (bool interrupt : {false, true}) {
        Targets t(3, {"--protocol=gen_iap", "--baud=9600"});  // about 3 s a target
        const std::string tmp = MakeTempDir();
        ChildProcess vorlo(VORLO_BIN,
                           {"--driver=GEN_IAP", "--connection=AUTO,9600,8,N,1", "--importcode=" + hex, "--gang=" + t.List(),
                            "--erase", "--write"},
                           ProcessOptions{{{"HOME", dir}, {"TMP", tmp}}, "", "", dir + "/out.txt", dir + "/err.txt"});
        std::vector<pid_t> children;
        for (int i = 0; i < 100 && children.size() < 3; ++i) {
            std::this_thread::sleep_for(20ms);
            children = Children(vorlo.Pid());
        }
        ASSERT_EQ(children.size(), 3u);
        std::this_thread::sleep_for(1s);
        if (interrupt) {
            kill(vorlo.Pid(), SIGINT);
            EXPECT_EQ(vorlo.Wait(15000), 70);
            for (pid_t child : children) EXPECT_NE(kill(child, 0), 0) << "child " << child << " still runs";
            EXPECT_TRUE(ListDir(tmp).empty()) << ListDir(tmp).front();
        } else {
            kill(children[1], SIGKILL);
            EXPECT_EQ(vorlo.Wait(30000), 70);
            EXPECT_EQ(ReadFile(dir + "/err.txt"), "\nERROR: Gang: 1 of 3 ports failed: " + t.ports[1]);
            EXPECT_TRUE(Contains(ReadFile(dir + "/out.txt"), "killed by signal 9"));
            t.sim->Stop();
            EXPECT_EQ(t.Memory(1), MemoryImage(records, 3008));
            EXPECT_EQ(t.Memory(3), MemoryImage(records, 3008));
            EXPECT_TRUE(ListDir(tmp).empty());
        }
    }
}

// A daemon runs a gang from one line: STAT: sums the children's progress, RESULT: tells
// how the gang ended.
TEST_F(Gang, InADaemon) {
    CodeRecords records = {{0x0, Pattern(1024, 3)}};
    Targets t(2, {"--protocol=gen_iap", "--nak=15", "--target=2", "--fault=nak@W"});
    DaemonProcess daemon({"+D", "--persistent"});
    DaemonClient c(daemon.Port());
    for (const std::string& command : std::vector<std::string>{"--driver=GEN_IAP", "--connection=AUTO,115200,8,N,1", "--importcode=" + HexFile(records),
                                       "--gang=" + t.List() + " --erase --write"})
        EXPECT_EQ(c.Request("CMD:" + command), "OK");
    std::string state;
    for (int i = 0; i < 200 && (state = c.Request("STAT:")) != "READY"; ++i) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(state, "READY");
    EXPECT_EQ(c.Request("RESULT:"), "RESULT: 70 Gang: 1 of 2 ports failed: " + t.ports[1]);
    EXPECT_EQ(c.Request("KILL:"), "OK");
    EXPECT_EQ(daemon.Wait(10000), 0);
    t.sim->Stop();
    EXPECT_EQ(t.Memory(1), MemoryImage(records, 1024));
}

TEST_F(Gang, AChildPastTheTimeLimitFailsItsPortOnly) {
    CodeRecords records = {{0x0, Pattern(3000, 2)}};
    Targets t(2, {"--protocol=gen_iap", "--target=2", "--baud=9600"});  // the second takes about 3 s
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=AUTO,9600,8,N,1", "--importcode=" + HexFile(records),
                            "--gangtimeout=1", "--gang=" + t.List(), "--erase", "--write"},
                           Options());
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: Gang: 1 of 2 ports failed: " + t.ports[1]);
    EXPECT_TRUE(Contains(r.out, "did not end within 1 s")) << r.out;
    t.sim->Stop();
    EXPECT_EQ(t.Memory(1), MemoryImage(records, 3008));
}
