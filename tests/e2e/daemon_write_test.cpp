// WRITE inside the daemon: progress on STAT:, and the two ways to stop it.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "e2e/daemon_harness.hpp"
#include "support/run_vorlo.hpp"
#include "support/sim_target.hpp"

namespace {
using namespace std::chrono_literals;

// 2048 bytes written in two blocks of 1024 over a line modelled at 9600 baud: about a
// second per block, long enough to watch.
struct SlowWrite {
    SimTarget sim{{"--baud=9600", "--block-size=1024"}};
    DaemonProcess daemon{{"+D"}};
    DaemonClient client{daemon.Port()};
    std::string code = daemon.Dir() + "/app.bin";

    SlowWrite() {
        WriteFile(code, std::string(2048, '\x5A'));
        EXPECT_EQ(client.Request("CMD:--redirout=" + daemon.Dir() + "/out.txt"), "OK");
        EXPECT_EQ(client.Request("CMD:--driver=GEN_IAP"), "OK");
        EXPECT_EQ(client.Request("CMD:--connection=" + sim.Connection(9600)), "OK");
        EXPECT_EQ(client.Request("CMD:--format=BINARY"), "OK");
        EXPECT_EQ(client.Request("CMD:--importcode=" + code), "OK");
        EXPECT_TRUE(WaitReady(daemon.Port()));
    }
};
}  // namespace

TEST(DaemonWrite, StatShowsKibibytesWrittenOfTotalThenReady) {
    SlowWrite w;
    EXPECT_EQ(w.client.Request("CMD:--write"), "OK");
    std::set<std::string> seen;
    auto deadline = std::chrono::steady_clock::now() + 20s;
    std::string answer;
    do {
        answer = w.client.Request("STAT:");
        seen.insert(answer);
        std::this_thread::sleep_for(50ms);
    } while (answer != "READY" && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(answer, "READY");
    EXPECT_TRUE(seen.count("BUSY: 1/2")) << "answers seen: " << seen.size();
    for (const std::string& s : seen) EXPECT_TRUE(s == "READY" || s.rfind("BUSY: ", 0) == 0) << s;
    w.sim.Stop();
    EXPECT_EQ(w.sim.Memory(), std::vector<uint8_t>(2048, 0x5A));
    // The counters keep their last values after the write.
    EXPECT_EQ(w.client.Request("CMD:--sleep=300"), "OK");
    EXPECT_EQ(w.client.Request("STAT:"), "BUSY: 2/2");
}

TEST(DaemonWrite, QuitStopsARunningWriteWithExitCode1) {
    SlowWrite w;
    EXPECT_EQ(w.client.Request("CMD:--write"), "OK");
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (w.client.Request("STAT:") != "BUSY: 0/2" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(w.client.Request("QUIT:"), "OK");
    EXPECT_EQ(w.daemon.Wait(10000), 1);
    w.sim.Stop();
    // The write stopped at its next block: the second block never reached the target.
    EXPECT_LT(w.sim.NotesStartingWith("gen_iap: write").size(), 2u);
}

TEST(DaemonWrite, KillLetsTheWriteCompleteThenEnds) {
    SlowWrite w;
    EXPECT_EQ(w.client.Request("CMD:--write"), "OK");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(w.client.Request("KILL:"), "OK");
    EXPECT_EQ(w.daemon.Wait(20000), 0);
    w.sim.Stop();
    EXPECT_EQ(w.sim.Memory(), std::vector<uint8_t>(2048, 0x5A));
}

// A persistent daemon outlives its failed commands: each ends only itself, RESULT:
// tells how, and the next one is served. A secret keeps strangers out.
TEST(DaemonWrite, PersistentDaemonSurvivesFailuresAndKeepsStrangersOut) {
    SimTarget sim{{"--protocol=gen_iap"}};
    const std::string secret = MakeTempDir() + "/secret";
    WriteFile(secret, "s3cret\n");
    DaemonProcess daemon{{"+D", "--persistent", "--secretfile=" + secret}};
    const std::string code = daemon.Dir() + "/app.bin";
    WriteFile(code, std::string(512, '\x3C'));

    DaemonClient stranger(daemon.Port());
    EXPECT_EQ(stranger.Request("CMD:--redirout=/tmp/x"), "ERR");
    EXPECT_TRUE(stranger.ClosedByPeer());
    DaemonClient guesser(daemon.Port());
    EXPECT_EQ(guesser.Request("AUTH:secret"), "ERR");
    EXPECT_TRUE(guesser.ClosedByPeer());

    DaemonClient c(daemon.Port());
    c.SendRaw("AUTH:s3cret\n");  // a line ended by LF alone, as plain nc sends it
    EXPECT_EQ(c.ReadLine(), "OK");
    EXPECT_EQ(c.Request("RESULT:"), "RESULT: 0");
    auto run = [&](const std::string& command) {
        EXPECT_EQ(c.Request("CMD:" + command), "OK");
        for (int i = 0; i < 400 && c.Request("STAT:") != "READY"; ++i) std::this_thread::sleep_for(25ms);
        return c.Request("RESULT:");
    };
    EXPECT_EQ(run("--importcode=" + daemon.Dir() + "/missing.bin"), "RESULT: 70 Can't open file " + daemon.Dir() +
                                                                         "/missing.bin.");
    EXPECT_EQ(run("--driver=GEN_IAP"), "RESULT: 0");
    EXPECT_EQ(run("--connection=" + daemon.Dir() + "/no-such-port,115200,8,N,1"), "RESULT: 0");
    EXPECT_EQ(run("--erase").rfind("RESULT: 70 Can't open " + daemon.Dir() + "/no-such-port", 0), 0u);
    // A target that does not answer.
    SimTarget dead{{"--protocol=gen_iap", "--fault=drop@C"}};
    EXPECT_EQ(run("--connection=" + dead.Connection()), "RESULT: 0");
    EXPECT_EQ(run("--erase"), "RESULT: 70 Failed to connect.");
    EXPECT_EQ(run("--connection=" + sim.Connection()), "RESULT: 0");
    EXPECT_EQ(run("--format=BINARY"), "RESULT: 0");
    EXPECT_EQ(run("--importcode=" + code), "RESULT: 0");
    EXPECT_EQ(run("--erase"), "RESULT: 0");
    EXPECT_EQ(run("--write"), "RESULT: 0");
    EXPECT_EQ(c.Request("KILL:"), "OK");
    EXPECT_EQ(daemon.Wait(10000), 0);
    sim.Stop();
    EXPECT_EQ(sim.Memory(), std::vector<uint8_t>(512, 0x3C));
}
