#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/run_vorlo.hpp"
#include "unit/serial_pty.hpp"

namespace {
// Plays a port whose transmit and receive lines are joined, for the first `limit`
// bytes; then it goes quiet.
void Echo(const PtyPair& pty, size_t limit, std::atomic<bool>& stop) {
    size_t echoed = 0;
    while (!stop && echoed < limit) {
        std::vector<uint8_t> got = pty.Receive(1, 50);
        if (got.empty()) continue;
        pty.Send(got);
        ++echoed;
    }
}
}  // namespace

TEST(PortCommands, LoopTestCountsEchoedBlocksAndEndsSilentlyWhenTheEchoStops) {
    PtyPair pty;
    std::atomic<bool> stop{false};
    std::thread peer(Echo, std::cref(pty), 3 * 128, std::ref(stop));
    RunResult r = RunVorlo({"--connection=" + pty.SlavePath() + ",115200,8,N,1", "--looptest"});
    stop = true;
    peer.join();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\r128b OK\r256b OK\r384b OK"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("512b"), std::string::npos);
}

TEST(PortCommands, PortListShowsVirtualPortsLastFirst) {
    PtyPair a, b;
    RunOptions options;
    options.env["VORLO_PORTS"] = a.SlavePath() + ":" + b.SlavePath() + " /nonexistent/tty";
    RunResult r = RunVorlo({"--portlist"}, options);
    EXPECT_EQ(r.exitCode, 0);
    std::string lines = "\n" + b.SlavePath() + " virtual port\n" + a.SlavePath() + " virtual port";
    EXPECT_NE(r.out.find(lines), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("/nonexistent"), std::string::npos);
}

TEST(PortCommands, ConnectionStringErrorsEndTheRun) {
    PtyPair pty;
    struct Case {
        std::string connection;
        std::string message;
    };
    const Case cases[] = {
        {pty.SlavePath() + ",9600,8,X,1", "ERROR: Invalid parity requested."},
        {pty.SlavePath() + ",9600,9,N,1", "ERROR: Invalid byte length requested."},
        {pty.SlavePath() + ",9600,8,N,3", "ERROR: Invalid number of stop bits requested."},
        {pty.SlavePath() + ",9600", "FATAL ERROR: Str2Value(NULL)"},
        {"/nonexistent/ttyQ,9600,8,N,1", "ERROR: Can't open /nonexistent/ttyQ: No such device"},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0-and-then-some-more-to-pass-80,9600,8,N,1",
         "ERROR: Can't open /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0-and-then-some-more-to-pass-80:"},
    };
    for (const Case& c : cases) {
        RunResult r = RunVorlo({"--connection=" + c.connection, "--looptest"});
        EXPECT_EQ(r.exitCode, 70) << c.connection;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.connection << ": " << r.err;
    }
}

TEST(PortCommands, LineSettingsAndRequestsAnswerAsConfigured) {
    RunResult r = RunVorlo({"--resettime=0x3E9", "--ispholdtime=-1", "--resetctrl=dtr,1", "--reqisp=0102,06"});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_NE(r.out.find("\nWARNING: Very long reset time. Are you nuts?"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("ISP hold time"), std::string::npos);
    EXPECT_NE(r.err.find("ERROR: Use --driver switch to select driver."), std::string::npos) << r.err;

    // CP210XTEST without an open port touches nothing and says nothing.
    r = RunVorlo({"--cp210xtest"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
}
