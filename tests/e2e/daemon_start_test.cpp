// Starting the daemon: the detached copy of -D/--daemon, the console daemon of -d -D,
// the bind address, the port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "e2e/daemon_harness.hpp"
#include "support/run_vorlo.hpp"

namespace {
using namespace std::chrono_literals;

RunOptions WithEnv(std::map<std::string, std::string> env) {
    RunOptions options;
    options.env = std::move(env);
    return options;
}

bool WaitGone(const DetachedDaemons& daemons, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (daemons.Pids().empty()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return daemons.Pids().empty();
}
}  // namespace

TEST(DaemonStart, DaemonOptionStartsABackgroundCopyAndRunsItsOwnOptions) {
    for (const char* option : {"-D", "--daemon", "/D"}) {
        DetachedDaemons daemons;
        RunResult r = RunVorlo({"--echo=before", option, "--echo=after"}, WithEnv(daemons.Env()));
        EXPECT_EQ(r.exitCode, 0) << option << r.err;
        EXPECT_NE(r.out.find("\nbefore\nafter"), std::string::npos) << option;
        // Where it listens, and that every interface reaches it.
        EXPECT_NE(r.out.find("\nNOTE: The daemon listens on 0.0.0.0 port " + std::to_string(daemons.Port()) + "."),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("\nWARNING: That is every interface: whoever reaches the port can run commands here"),
                  std::string::npos);
        // The copy listens by the time the starting process has ended.
        ASSERT_EQ(daemons.Pids().size(), 1u) << option;
        DaemonClient client(daemons.Port());
        EXPECT_EQ(client.Request("STAT:"), "READY") << option;
        EXPECT_EQ(client.Request("KILL:"), "OK") << option;
        EXPECT_TRUE(WaitGone(daemons, 5000)) << option;
    }
}

TEST(DaemonStart, LocalHostOnlyBindsTheLoopbackAddressAlsoInTheStartedCopy) {
    {
        DetachedDaemons daemons;
        RunResult r = RunVorlo({"--localhostonly", "-D"}, WithEnv(daemons.Env()));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("\nNOTE: The daemon listens on 127.0.0.1 port "), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("WARNING"), std::string::npos);
        EXPECT_TRUE(CanConnect("127.0.0.1", daemons.Port()));
        EXPECT_FALSE(CanConnect("127.0.0.2", daemons.Port()));
    }
    {
        DaemonProcess daemon({"+D", "--LocalHostOnly"});
        EXPECT_TRUE(CanConnect("127.0.0.1", daemon.Port()));
        EXPECT_FALSE(CanConnect("127.0.0.2", daemon.Port()));
    }
    {
        DaemonProcess daemon({"+D"});
        EXPECT_TRUE(CanConnect("127.0.0.2", daemon.Port()));
    }
}

TEST(DaemonStart, DebugDaemonServesFromItsOwnConsole) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"-d", "-D", "--echo=mine"},
                                                                   {"-D", "-d", "--echo=mine"}}) {
        DaemonProcess daemon(args);
        DaemonClient client(daemon.Port());
        ASSERT_TRUE(WaitReady(daemon.Port()));
        EXPECT_EQ(client.Request("CMD:--echo=served"), "OK");
        ASSERT_TRUE(WaitReady(daemon.Port()));
        EXPECT_EQ(client.Request("KILL:"), "OK");
        EXPECT_EQ(daemon.Wait(5000), 0);
        std::string out = daemon.Out();
        char listening[80];
        snprintf(listening, sizeof listening, "Server socket open on host 0.0.0.0, port %u\n", daemon.Port());
        EXPECT_NE(out.find(listening), std::string::npos) << out;
        EXPECT_NE(out.find("\nmine"), std::string::npos) << out;
        EXPECT_NE(out.find("\nserved"), std::string::npos) << out;
        EXPECT_NE(out.find("\nEnd daemon process"), std::string::npos) << out;
    }
}

TEST(DaemonStart, BusyPortGivesAClearError) {
    uint16_t port = FreePort();
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    std::map<std::string, std::string> env{{"VORLO_DAEMON_PORT", std::to_string(port)}};

    // The starting process learns from its copy why it could not serve.
    RunResult started = RunVorlo({"-D", "--echo=never"}, WithEnv(env));
    EXPECT_EQ(started.exitCode, 70);
    EXPECT_NE(started.err.find("Address already in use"), std::string::npos) << started.err;
    EXPECT_NE(started.err.find("\nERROR: Failed to create daemon process."), std::string::npos) << started.err;
    EXPECT_EQ(started.out.find("never"), std::string::npos);

    DaemonProcess daemon({"+D"}, env, false);
    EXPECT_EQ(daemon.Wait(5000), 70);
    EXPECT_NE(daemon.Err().find("Address already in use"), std::string::npos) << daemon.Err();
    EXPECT_NE(daemon.Err().find("\nERROR: serverthread.sockopen in lib/cmdline: "), std::string::npos);
    close(holder);
}

TEST(DaemonStart, PortVariableMustNameAPort) {
    for (const char* value : {"0", "65536", "81x"}) {
        RunResult r = RunVorlo({"-D"}, WithEnv({{"VORLO_DAEMON_PORT", value}}));
        EXPECT_EQ(r.exitCode, 70) << value;
        EXPECT_NE(r.err.find("Invalid port"), std::string::npos) << r.err;
    }
}
