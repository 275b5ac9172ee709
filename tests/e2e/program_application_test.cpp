// Programming through MODBUS, LPC2000_IAP and MEC_IAP: a Modbus RTU bootloader, an
// application's own programming mode, and an application that drops into the LPC boot ROM.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "drivers/modbus/frames.hpp"
#include "support/sim_upload.hpp"

namespace {
bool HasBytes(const std::vector<uint8_t>& wire, const std::vector<uint8_t>& bytes) {
    return std::search(wire.begin(), wire.end(), bytes.begin(), bytes.end()) != wire.end();
}

// The vector checksum the LPC boot ROM wants in word 5 of an ARM7 image.
std::vector<uint8_t> WithArm7Checksum(std::vector<uint8_t> image) {
    uint32_t sum = 0;
    for (int i = 0; i < 8; ++i)
        if (i != 5) sum += image[4 * i] | (image[4 * i + 1] << 8) | (image[4 * i + 2] << 16) | (uint32_t{image[4 * i + 3]} << 24);
    for (int b = 0; b < 4; ++b) image[20 + b] = static_cast<uint8_t>((0u - sum) >> (8 * b));
    return image;
}
}  // namespace

using ApplicationUpload = SimUpload;

TEST_F(ApplicationUpload, ModbusProgramsThroughForwardingAndRetries) {
    CodeRecords records = {{0x0, Pattern(1000, 2)}};
    SimTarget sim({"--protocol=modbus", "--forwarding=3,5", "--fault=drop@0x41.05#2"});
    RunResult r = Program(sim, "MODBUS,1,3,5", HexFile(records), {"-d", "--erase", "--write"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\n  Writing 128 bytes 0080-00FF try 2"));  // the dropped answer
    sim.Stop();
    EXPECT_EQ(sim.Memory(), MemoryImage(records, 1008));  // 128-byte blocks, the last padded to 16
    // Every bootloader frame behind the register write 01 10 07 CF 00 01 02 05 03.
    std::vector<uint8_t> wire = sim.HostBytes();
    std::vector<uint8_t> forward = ModbusForwardingRequest(1, 3, 5);
    std::vector<uint8_t> connect = ModbusBootloaderFrame(1, {0x08});
    std::vector<uint8_t> both = forward;
    both.insert(both.end(), connect.begin(), connect.end());
    EXPECT_TRUE(HasBytes(wire, both));
    // The first connect of a run needs two answers.
    EXPECT_EQ(sim.NotesStartingWith("modbus: connect").size(), 2u);
}

TEST_F(ApplicationUpload, ModbusFailures) {
    std::string hex = HexFile({{0x0, Pattern(200, 3)}});
    {
        SimTarget sim({"--protocol=modbus", "--fault=nak@0x41.05"});  // every block refused
        RunResult r = Program(sim, "MODBUS", hex, {"--write"});
        EXPECT_EQ(r.exitCode, 70);
        EXPECT_EQ(r.err, "\nERROR: Write failed.");
    }
    {
        // Another slave on the bus: no answer at all, as on a real bus.
        SimTarget sim({"--protocol=modbus", "--slave=2"});
        RunResult r = Program(sim, "MODBUS", hex, {"--write"});
        EXPECT_EQ(r.exitCode, 70);
        EXPECT_EQ(r.err, "\nERROR: Failed to connect.");
        sim.Stop();
        EXPECT_FALSE(sim.NotesStartingWith("modbus: frame for slave 1").empty());
    }
}

TEST_F(ApplicationUpload, LpcIapEntersTheProgrammingModeAndWritesRecords) {
    CodeRecords records = {{0x0, Pattern(600, 4)}};
    for (const char* answer : {"A2050B", "A205A1F4"}) {
        SimTarget sim({"--protocol=lpc_iap", std::string("--entry-answer=") + answer});
        RunResult r = Program(sim, "LPC2000_IAP", HexFile(records), {"--write"});
        ASSERT_EQ(r.exitCode, 0) << answer << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "\nPgm mode entered"));
        sim.Stop();
        EXPECT_EQ(sim.Memory(), MemoryImage(records, 608));
        std::vector<uint8_t> wire = sim.HostBytes();
        EXPECT_EQ(std::vector<uint8_t>(wire.begin(), wire.begin() + 3), (std::vector<uint8_t>{0xA2, 0x05, 0x0A}));
        EXPECT_EQ(std::vector<uint8_t>(wire.end() - 6, wire.end()), std::vector<uint8_t>(6, 0x00));  // the end record
    }
    SimTarget sim({"--protocol=lpc_iap"});
    RunResult r = Program(sim, "LPC2000_IAP", "", {"--erase"});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: Function ERASE not supported.");
    // A REQISP request without an expected answer cannot tell that the target entered.
    r = Program(sim, "LPC2000_IAP", HexFile(records), {"--reqisp=55AA", "--write"});
    EXPECT_EQ(r.err, "\nERROR: Failed to connect.");
}

TEST_F(ApplicationUpload, MecIapEntersTheBootRomAndHandsOverToTheLpcDriver) {
    CodeRecords records = {{0x0, Pattern(5000, 9)}};
    const std::vector<uint8_t> entry = {0xA2, 0x00, 0x84, 0x04, 0x0C, 0x38, 0xE0, 0x1F,
                                        0x10, 0x10, 0x16, 0x17, 0x01, 0xA2, 0x05, 0x0A};
    struct Case {
        std::vector<std::string> sim;
        const char* driver;
        bool entryRequest;
        size_t size;
    };
    const Case cases[] = {
        {{"--protocol=mec_iap", "--part=LPC2138", "--exit-after-exec"}, "MEC_IAP", true, 8192},
        {{"--protocol=mec_iap", "--part=LPC2138", "--in-boot-rom", "--exit-after-exec"}, "MEC_IAP", false, 8192},
        // The option is LPC2000_ISP's fast-mode rate: with its 10 MHz crystal the LPC2134
        // runs the routine at 115200; the routine writes whole 1 KiB pages.
        {{"--protocol=mec_iap", "--part=LPC2134", "--exit-after-exec"}, "MEC_IAP,115200", true, 5120},
    };
    for (const Case& c : cases) {
        SimTarget sim(c.sim);
        RunResult r = Program(sim, c.driver, HexFile(records), {"--contout=5", "--erase", "--write", "--exec"}, 2400);
        ASSERT_EQ(r.exitCode, 0) << c.driver << r.out << r.err;
        EXPECT_EQ(sim.WaitExit(5000), 0);
        EXPECT_EQ(HasBytes(sim.HostBytes(), entry), c.entryRequest);
        EXPECT_EQ(sim.Memory(), WithArm7Checksum(MemoryImage(records, c.size))) << c.driver;
    }
}

// MEC_IAP searches only the listed ports and remembers none. A candidate that fails
// leaves the boot-ROM driver selected: the next candidate must get MEC_IAP's own connect
// (and its entry request) again. When no port answers, the run ends with exit code -1.
TEST_F(ApplicationUpload, MecIapSearchesTheListedPortsOnly) {
    CodeRecords records = {{0x0, Pattern(5000, 5)}};
    const std::string hex = HexFile(records);
    SimTarget target({"--protocol=mec_iap", "--part=LPC2138"});
    SimTarget silent({"--protocol=gen_iap"});  // answers none of MEC_IAP's requests
    RunOptions options = Options();
    options.env["VORLO_PORTS"] = target.Path() + ":" + silent.Path();  // the last one is tried first
    const std::vector<std::string> args = {"--driver=MEC_IAP", "--connection=AUTO(virtual),2400,8,N,1",
                                           "--importcode=" + hex, "--erase", "--write"};
    RunResult r = RunVorlo(args, options);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_LT(r.out.find("Trying port " + silent.Path()), r.out.find("Trying port " + target.Path()));
    EXPECT_FALSE(Contains(ReadFile(dir + "/.Vorlo"), target.Path()));
    target.Stop();
    EXPECT_EQ(target.Memory(), WithArm7Checksum(MemoryImage(records, 8192)));

    options.env["VORLO_PORTS"] = silent.Path();
    r = RunVorlo(args, options);
    EXPECT_EQ(r.exitCode, 255) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\nTrying port " + silent.Path()));
    options.env["VORLO_PORTS"] = "";
    r = RunVorlo({"--driver=MEC_IAP", "--connection=AUTO(no such port),2400,8,N,1", "--erase"}, options);
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(Contains(r.out, "\nNo suitable COM port found.")) << r.out;
}
