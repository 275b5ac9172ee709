// Ports behind a real serial server: ser2net on loopback, in the foreground with a
// configuration of the test's own, vorlo-sim on a pseudo-terminal behind it. Vorlo opens
// rfc2217:// (line settings, rate changes, DTR/RTS and purges through the server) and
// socket:// (bytes only) URLs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/daemon_harness.hpp"
#include "support/process.hpp"
#include "support/sim_upload.hpp"

namespace {
// Where the package puts it (the test environment's PATH may leave out sbin).
const char* kSer2net = "/usr/sbin/ser2net";
bool HaveSer2net() { return access(kSer2net, X_OK) == 0; }

// ser2net serving one terminal: RFC 2217 on one TCP port, raw TCP on another.
class Ser2net {
public:
    Ser2net(const std::string& dir, const std::string& device, const std::string& line = "115200n81")
        : rfc2217(FreePort()), raw(FreePort()) {
        std::string connection;
        for (auto [name, accepter, port] : {std::tuple{"rfc", "telnet(rfc2217),tcp", rfc2217},
                                            std::tuple{"raw", "tcp", raw}})
            connection += std::string("connection: &") + name + "\n    accepter: " + accepter + ",127.0.0.1," +
                          std::to_string(port) + "\n    connector: serialdev," + device + "," + line +
                          ",local\n    options:\n      kickolduser: true\n      chardelay: false\n";
        WriteFile(dir + "/ser2net.yaml", "%YAML 1.1\n---\n" + connection);
        process_ = std::make_unique<ChildProcess>(
            kSer2net, std::vector<std::string>{"-n", "-d", "-c", dir + "/ser2net.yaml", "-P", dir + "/pid"},
            ProcessOptions{{}, "", "", dir + "/ser2net.out", dir + "/ser2net.err"});
        // Listening once its accepters are up.
        bool up = false;
        for (int i = 0; i < 100 && !(up = CanConnect("127.0.0.1", rfc2217)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!up) ADD_FAILURE() << "ser2net does not listen: " << ReadFile(dir + "/ser2net.err");
    }
    void Stop() { process_->Stop(1000); }
    std::string Url(const char* scheme, int baud = 115200, const char* format = "8,N,1") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(scheme[0] == 'r' ? rfc2217 : raw) + "," +
               std::to_string(baud) + "," + format;
    }
    const uint16_t rfc2217;
    const uint16_t raw;

private:
    std::unique_ptr<ChildProcess> process_;
};

class NetworkPort : public SimUpload {
protected:
    void SetUp() override {
        if (!HaveSer2net()) GTEST_SKIP() << "ser2net is not installed";
    }
    // vorlo with the given connection string instead of the simulator's terminal.
    RunResult Run(const std::string& driver, const std::string& connection, const std::string& code,
                  const std::vector<std::string>& commands) {
        std::vector<std::string> args = {"--driver=" + driver, "--connection=" + connection, "--progress=plain"};
        if (!code.empty()) args.push_back("--importcode=" + code);
        args.insert(args.end(), commands.begin(), commands.end());
        return RunVorlo(args, Options());
    }
};
}  // namespace

// Every protocol through the server: what the target holds afterwards is what a local
// terminal would have left.
TEST_F(NetworkPort, EveryDriverThroughRfc2217AndRawSockets) {
    struct Case {
        const char* name;
        std::vector<std::string> sim;
        std::string driver;
        const char* scheme;
        int baud;
        const char* format;
        uint32_t base;
        size_t size;
        std::vector<std::string> commands;
        const char* said;  // in the output
    };
    const Case cases[] = {
        {"gen_iap", {"--protocol=gen_iap"}, "GEN_IAP", "rfc2217", 115200, "8,N,1", 0, 6000, {"--erase", "--write"}, ""},
        {"lpc boot ROM", {"--protocol=lpc_isp", "--part=LPC2148"}, "LPC2000_ISP,12000", "rfc2217", 115200, "8,N,1", 0,
         9000, {"--erase", "--write", "--verify"}, "\nVerify OK."},
        // The routine takes over at 230400: the server sets the rate before the host uses it.
        {"lpc fast mode", {"--protocol=lpc_isp", "--part=LPC1768"}, "LPC2000_ISP,12000,230400", "rfc2217", 115200,
         "8,N,1", 0, 9000, {"--erase", "--write", "--verify"}, "\nVerify OK."},
        // The BSL starts at 9600 8E1 and moves to 115200.
        {"msp430", {"--protocol=msp430_bsl"}, "MSP430BSL", "rfc2217", 115200, "8,E,1", 0x8000, 3000,
         {"--erase", "--write", "--verify"}, "\nVerify OK."},
        {"modbus", {"--protocol=modbus"}, "MODBUS,1", "rfc2217", 19200, "8,E,1", 0, 4096, {"--erase", "--write"}, ""},
        {"gen_iap raw", {"--protocol=gen_iap"}, "GEN_IAP", "socket", 115200, "8,N,1", 0, 6000, {"--erase", "--write"},
         "carries bytes only: the server sets the rate, the character format and DTR/RTS."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.driver.rfind("LPC2000_ISP,12000,", 0) == 0 && !VORLO_SIM_EMULATION) continue;
        SimTarget sim(c.sim);
        Ser2net server(dir, sim.Path());
        CodeRecords records = {{c.base, Pattern(c.size, 7)}};
        RunResult r = Run(c.driver, server.Url(c.scheme, c.baud, c.format), HexFile(records), c.commands);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, c.said)) << r.out;
        server.Stop();
        sim.Stop();
        const std::vector<uint8_t> memory = sim.Memory();
        const size_t offset = c.base == 0x8000 ? 0x8000 - 0x1800 : 0;  // the MSP430's dump starts at its info memory
        ASSERT_GE(memory.size(), offset + c.size);
        EXPECT_EQ(std::vector<uint8_t>(memory.begin() + offset + (c.base ? 0 : 64), memory.begin() + offset + c.size),
                  std::vector<uint8_t>(records[0].second.begin() + (c.base ? 0 : 64), records[0].second.end()));
    }
}

// What cannot work says why, at once or within a few seconds, never a hang.
TEST_F(NetworkPort, ServersThatAreNotThereOrSpeakNoRfc2217) {
    SimTarget sim({"--protocol=gen_iap"});
    Ser2net server(dir, sim.Path());
    const std::string refused = "127.0.0.1:" + std::to_string(FreePort());
    struct Case {
        std::string port;
        std::string err;
        std::string note;
    };
    const Case cases[] = {
        {"rfc2217://" + refused, "\nERROR: Can't open rfc2217://" + refused + ": no serial server there",
         "\nNOTE: " + refused + ": Connection refused."},
        {"rfc2217://no-such-host.invalid:4001", "\nERROR: Can't open rfc2217://no-such-host.invalid:4001: no serial server there",
         "\nNOTE: no-such-host.invalid:4001: the name does not resolve"},
        // A raw TCP port does not answer the telnet negotiation.
        {"rfc2217://127.0.0.1:" + std::to_string(server.raw),
         "\nERROR: Can't open rfc2217://127.0.0.1:" + std::to_string(server.raw) + ": no RFC 2217 server",
         "no answer to the RFC 2217 negotiation within 3 s (a raw TCP port is socket://127.0.0.1:" +
             std::to_string(server.raw) + ")."},
        {"rfc2217://127.0.0.1", "\nERROR: Can't open rfc2217://127.0.0.1: not a network port", ""},
    };
    for (const Case& c : cases) {
        RunResult r = Run("GEN_IAP", c.port + ",115200,8,N,1", "", {"--erase"});
        EXPECT_EQ(r.exitCode, 70) << c.port;
        EXPECT_TRUE(Contains(r.err, c.err)) << r.err;
        EXPECT_TRUE(Contains(r.out, c.note)) << r.out;
    }
}

// The server goes away in the middle of a write: the block is not programmed, and the
// notes say that the connection ended.
TEST_F(NetworkPort, AConnectionThatDropsFailsTheWriteWithTheReason) {
    SimTarget sim({"--protocol=gen_iap", "--baud=115200"});
    Ser2net server(dir, sim.Path());
    std::thread stop([&server] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        server.Stop();
    });
    RunResult r = Run("GEN_IAP", server.Url("rfc2217"), HexFile({{0, Pattern(64 * 1024, 3)}}), {"--write"});
    stop.join();
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: Programming failed.");
    EXPECT_TRUE(Contains(r.out, "\nNOTE: " + server.Url("rfc2217").substr(0, server.Url("rfc2217").find(',')) +
                                    ": the connection ended: the server closed the connection."))
        << r.out;
}
