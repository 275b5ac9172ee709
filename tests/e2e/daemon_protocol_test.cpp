// The daemon's line protocol against a real daemon process ("+D") over TCP.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "e2e/daemon_harness.hpp"
#include "support/run_vorlo.hpp"

namespace {
using namespace std::chrono_literals;

// Routes the daemon's standard output into a file of the test directory; returns once
// that command has run.
std::string RedirectOutput(DaemonClient& client, const DaemonProcess& daemon) {
    std::string path = daemon.Dir() + "/out.txt";
    EXPECT_EQ(client.Request("CMD:--redirout=" + path), "OK");
    EXPECT_TRUE(WaitReady(daemon.Port()));
    return path;
}
}  // namespace

TEST(DaemonProtocol, AnswersStateAndRefusesUnknownRequests) {
    DaemonProcess daemon({"+D"});
    DaemonClient client(daemon.Port());
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.Request("STAT:"), "READY");
    EXPECT_EQ(client.Request("STAT: anything after the keyword"), "READY");
    // Keywords are case-sensitive; the connection stays open after ERR.
    for (const char* line : {"stat:", "quit:", "kill:", "cmd:--echo=x", "Stat:", "HELLO", "", " STAT:", "STAT"})
        EXPECT_EQ(client.Request(line), "ERR") << line;
    EXPECT_EQ(client.Request("STAT:"), "READY");
    EXPECT_TRUE(daemon.Running());
}

TEST(DaemonProtocol, QueuedCommandsRunInOrderAndBusyLastsUntilTheQueueIsEmpty) {
    DaemonProcess daemon({"+D"});
    DaemonClient client(daemon.Port());
    std::string out = RedirectOutput(client, daemon);
    EXPECT_EQ(client.Request("CMD:--echo=a-rather-long-first-command-text"), "OK");
    EXPECT_EQ(client.Request("CMD:--sleep=600"), "OK");
    EXPECT_EQ(client.Request("STAT:"), "BUSY: 0/100");  // no write yet in this process
    // Shorter commands queued behind longer ones run exactly as sent.
    EXPECT_EQ(client.Request("CMD:--echo=b"), "OK");
    EXPECT_EQ(client.Request("CMD:"), "OK");  // runs nothing
    EXPECT_EQ(client.Request("CMD:--echo=c"), "OK");
    EXPECT_EQ(client.Request("STAT:"), "BUSY: 0/100");
    ASSERT_TRUE(WaitReady(daemon.Port()));
    EXPECT_EQ(ReadFile(out), "\na-rather-long-first-command-text\nb\nc");
    EXPECT_TRUE(daemon.Running());

    EXPECT_EQ(client.Request("KILL:"), "OK");
    EXPECT_TRUE(client.ClosedByPeer());
    EXPECT_EQ(daemon.Wait(5000), 0);
    EXPECT_NE(ReadFile(out).find("\nEnd daemon process"), std::string::npos);
}

// KILL: lets the running command and those queued before it finish; QUIT: drops the
// queue (a running --sleep is no write, so it still completes). Either way the daemon
// refuses new commands rather than answering OK for commands that never run.
TEST(DaemonProtocol, KillAndQuitDuringACommand) {
    for (const std::string request : {"KILL:", "QUIT:"}) {
        DaemonProcess daemon({"+D"});
        DaemonClient client(daemon.Port());
        std::string out = RedirectOutput(client, daemon);
        EXPECT_EQ(client.Request("CMD:--sleep=700"), "OK");
        EXPECT_EQ(client.Request("CMD:--echo=queued-before"), "OK");
        std::this_thread::sleep_for(100ms);  // the sleep has started
        auto sent = std::chrono::steady_clock::now();
        DaemonClient other(daemon.Port());
        EXPECT_EQ(other.Request(request), "OK");
        EXPECT_TRUE(other.ClosedByPeer());
        EXPECT_EQ(client.Request("CMD:--echo=after-end"), "ERR");
        EXPECT_EQ(client.Request("STAT:"), "BUSY: 0/100");
        EXPECT_EQ(daemon.Wait(5000), 0) << request;
        EXPECT_GT(std::chrono::steady_clock::now() - sent, 400ms);  // the sleep was not cut short
        std::string text = ReadFile(out);
        EXPECT_EQ(text.find("\nqueued-before") != std::string::npos, request == "KILL:") << request;
        EXPECT_EQ(text.find("after-end"), std::string::npos);
    }
}

TEST(DaemonProtocol, QuitEndsAWaitingDaemonAtOnce) {
    DaemonProcess daemon({"+D"});
    DaemonClient client(daemon.Port());
    auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Request("QUIT:"), "OK");
    EXPECT_TRUE(client.ClosedByPeer());
    EXPECT_EQ(daemon.Wait(2000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 1000ms);
}

TEST(DaemonProtocol, OverLongLinesAreRefusedWhole) {
    DaemonProcess daemon({"+D"});
    DaemonClient client(daemon.Port());
    std::string out = RedirectOutput(client, daemon);
    // 400 characters: one ERR, and neither the cut command nor its tail (which reads
    // like a request of its own) is acted on.
    std::string tail = "KILL:" + std::string(96, 'k');
    std::string line = "CMD:--echo=" + std::string(400 - 11 - tail.size(), 'x') + tail;
    ASSERT_EQ(line.size(), 400u);
    client.SendRaw(line + "\r\n");
    EXPECT_EQ(client.ReadLine(), "ERR");
    EXPECT_EQ(client.Request("STAT:"), "READY");
    // 299 characters are a whole line; 300 are one too many.
    std::string longest = "CMD:--echo=" + std::string(255 - 7, 'y') + std::string(40, ' ');
    ASSERT_EQ(longest.size(), 299u);
    EXPECT_EQ(client.Request(longest), "OK");
    EXPECT_EQ(client.Request(longest + " "), "ERR");
    // A command longer than a line of the command file would run cut in two.
    EXPECT_EQ(client.Request("CMD:--echo=" + std::string(256 - 7, 'z')), "ERR");
    ASSERT_TRUE(WaitReady(daemon.Port()));
    EXPECT_TRUE(daemon.Running());
    EXPECT_EQ(ReadFile(out), "\n" + std::string(119, 'y'));  // a message shows 119 characters
}

TEST(DaemonProtocol, BadClientsDoNotHurtTheDaemon) {
    DaemonProcess daemon({"+D"});
    {
        DaemonClient garbage(daemon.Port());
        std::string bytes;
        for (int i = 0; i < 3000; ++i) bytes += static_cast<char>((i * 131 + 7) % 256);
        garbage.SendRaw(bytes + "\r\n");
        garbage.SendRaw(std::string("\0\0STAT:\0\r\n", 10));
        garbage.SendRaw("STAT:\r\n");
        // Every garbage line is answered ERR; the request after them is served.
        std::string reply;
        int refused = 0;
        while ((reply = garbage.ReadLine()) == "ERR") ++refused;
        EXPECT_EQ(reply, "READY");
        EXPECT_GE(refused, 2);
    }
    // Clients that connect and leave at once, or leave without reading their replies.
    for (int i = 0; i < 20; ++i) {
        DaemonClient leaver(daemon.Port());
        if (i % 2) {
            std::string burst;
            for (int j = 0; j < 200; ++j) burst += "STAT:\r\n";
            leaver.SendRaw(burst);
        }
    }
    {
        DaemonClient partial(daemon.Port());
        partial.SendRaw("STA");
    }
    DaemonClient client(daemon.Port());
    EXPECT_EQ(client.Request("STAT:"), "READY");
    EXPECT_TRUE(daemon.Running());
}

TEST(DaemonProtocol, ServesFiftyClientsAtOnceAndBoundsOpenConnections) {
    DaemonProcess daemon({"+D"});
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int i = 0; i < 50; ++i) {
        threads.emplace_back([&]() {
            DaemonClient client(daemon.Port());
            if (client.Request("STAT:", 10000) == "READY" && client.Request("STAT:", 10000) == "READY") ++ready;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ready, 50);

    // Connections held open fill the daemon's slots; one more is closed at once.
    std::vector<std::unique_ptr<DaemonClient>> held;
    for (int i = 0; i < 64; ++i) {
        held.push_back(std::make_unique<DaemonClient>(daemon.Port()));
        ASSERT_EQ(held.back()->Request("STAT:"), "READY") << i;
    }
    DaemonClient refused(daemon.Port());
    EXPECT_TRUE(refused.ClosedByPeer());
    held.front()->Close();
    std::this_thread::sleep_for(100ms);
    DaemonClient next(daemon.Port());
    EXPECT_EQ(next.Request("STAT:"), "READY");
    EXPECT_TRUE(daemon.Running());
}

TEST(DaemonProtocol, EndsAfterFifteenIdleSecondsCountedFromTheLastCommand) {
    DaemonProcess daemon({"+D"});
    auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(10s);
    {
        DaemonClient client(daemon.Port());
        EXPECT_EQ(client.Request("CMD:"), "OK");  // nothing to run, but the daemon is in use
    }
    std::this_thread::sleep_for(7s);
    EXPECT_TRUE(daemon.Running());
    EXPECT_EQ(daemon.Wait(12000), 0);
    auto lived = std::chrono::steady_clock::now() - start;
    EXPECT_GT(lived, 24s);
    EXPECT_LT(lived, 28s);
}
