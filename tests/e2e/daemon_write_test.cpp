// WRITE inside the daemon: progress on STAT:, and the two ways to stop it.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "e2e/daemon_harness.hpp"
#include "support/sim_target.hpp"
#include "support/run_vorlo.hpp"

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
