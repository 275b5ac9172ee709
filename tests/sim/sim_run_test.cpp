// vorlo-sim as a tool: fault injection, line model, ending, dumps, link and log.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>

#include "sim/sim_process.hpp"
#include "support/run_vorlo.hpp"

namespace {

const Bytes kAck = {0x06};
const Bytes kNak = {0x15};
const Bytes kNothing = {};

Bytes Repeat(char command, int times, SimProcess& sim) {
    Bytes answers;
    for (int i = 0; i < times; ++i) {
        Bytes one = sim.Exchange({static_cast<uint8_t>(command)}, 1, 150);
        answers.push_back(one.empty() ? 0x00 : one[0]);
    }
    return answers;
}

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(SimFaults, AcknowledgesCanBeDroppedCorruptedOrStopped) {
    {
        SimProcess sim({"--drop-ack=2,4-5"});
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(HexText(Repeat('C', 6, sim)), "06 00 06 00 00 06");
    }
    {
        SimProcess sim({"--corrupt-ack=C:2"});
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(sim.Exchange({'E'}, 1), kAck);  // counted for 'C' only
        EXPECT_EQ(HexText(Repeat('C', 3, sim)), "06 15 06");
    }
    {
        SimProcess sim({"--no-ack-after=2"});
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(HexText(Repeat('C', 4, sim)), "06 06 00 00");
    }
    {
        SimProcess sim({"--silent"});
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(sim.Exchange({'C', 'I', 'E'}, 1, 300), kNothing);
    }
    {
        SimProcess sim({"--fail-erase", "--nak=15", "--sync-answer=06 06"});
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(sim.Exchange({'E'}, 1), kNak);
        EXPECT_EQ(sim.Exchange({'C'}, 3, 300), HexBytes("06 06"));
    }
}

TEST(SimFaults, DroppedWriteAcknowledgeLeavesTheBlockWrittenAndTheResendAccepted) {
    std::string dump = MakeTempDir() + "/out.hex";
    SimProcess sim({"--drop-ack=W:1", "--dump=" + dump});
    ASSERT_TRUE(sim.Ready());
    Bytes frame = WriteFrame(0x1000, {0x01, 0x02});
    EXPECT_EQ(sim.Exchange(frame, 1, 300), kNothing);
    EXPECT_EQ(sim.Exchange(frame, 1), kAck);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadFile(dump), ":021000000102EB\r\n:00000001FF\r\n");
}

TEST(SimFaults, PlanItemsHitTheRepliesTheyNameAndANakCarriesNothingOut) {
    // Three one-byte writes (W#1 to W#3), info, synchronise: what comes back for each
    // ("-": nothing) and which of the three bytes reached the flash.
    struct Case {
        std::vector<std::string> args;
        std::string answers;
        std::string written;
    };
    const Case cases[] = {
        {{}, "06|06|06|06 00 00 00 01|06", "111"},
        {{"--fault=dup@W#2"}, "06|06 06|06|06 00 00 00 01|06", "111"},
        {{"--fault=drop@W#2-"}, "06|-|-|06 00 00 00 01|06", "111"},
        {{"--fault=corrupt@W#1;corrupt:15@I"}, "F9|06|06|15 00 00 00 01|06", "111"},
        {{"--fault=short@I", "--fault=short@C"}, "06|06|06|06 00 00 00|-", "111"},
        {{"--fault=drop@*#4;dup@*#5-"}, "06|06|06|-|06 06", "111"},
        {{"--fault=nak@W#2", "--nak=15"}, "06|15|06|06 00 00 00 01|06", "101"},
        {{"--fault=nak@*#3;nak@C"}, "06|06|-|06 00 00 00 01|-", "110"},
        // The old options are shorthands of plan items.
        {{"--drop-ack=W:2"}, "06|-|06|06 00 00 00 01|06", "111"},
        {{"--no-ack-after=3"}, "06|06|06|-|-", "111"},
        {{"--corrupt-ack=4", "--nak=EE"}, "06|06|06|EE 00 00 00 01|06", "111"},
    };
    const char* records[] = {":01000000A5", ":01010000A5", ":01020000A5"};
    for (const Case& c : cases) {
        std::string dump = MakeTempDir() + "/out.hex";
        std::vector<std::string> args = c.args;
        args.push_back("--dump=" + dump);
        SimProcess sim(args);
        ASSERT_TRUE(sim.Ready());
        std::string answers;
        for (const Bytes& step : {WriteFrame(0x000, {0xA5}), WriteFrame(0x100, {0xA5}), WriteFrame(0x200, {0xA5}),
                                  Bytes{'I'}, Bytes{'C'}}) {
            Bytes answer = sim.Exchange(step, 16, 120);
            answers += (answers.empty() ? "" : "|") + (answer.empty() ? "-" : HexText(answer));
        }
        EXPECT_EQ(answers, c.answers) << c.args[0];
        EXPECT_EQ(sim.Stop(), 0);
        std::string hex = ReadFile(dump), written;
        for (const char* record : records) written += Contains(hex, record) ? "1" : "0";
        EXPECT_EQ(written, c.written) << c.args[0];
    }
}

TEST(SimFaults, ALateReplyComesThatMuchLaterAndTheNextOnTime) {
    std::string log = MakeTempDir() + "/wire.log";
    SimProcess sim({"--fault=late:400@C#1", "--log=" + log});
    ASSERT_TRUE(sim.Ready());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sim.Exchange({'C'}, 1, 200), kNothing);
    EXPECT_EQ(sim.Receive(1, 2000), kAck);
    EXPECT_GE(MsSince(start), 380);
    EXPECT_EQ(sim.Exchange({'C'}, 1, 200), kAck);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(Contains(ReadFile(log), "#   fault: late of C#1 (400 ms)\n"));
}

TEST(SimRun, DumpsAsIntelHexWithExtendedAddressesAndAsBinary) {
    std::string dir = MakeTempDir();
    Bytes data;
    for (uint8_t i = 0; i < 20; ++i) data.push_back(i);
    {
        SimProcess sim({"--dump=" + dir + "/a.hex", "--dump-bin=" + dir + "/a.bin"});
        ASSERT_TRUE(sim.Ready());
        // Crosses the 64 KiB boundary: the record is cut there and an 04 record follows.
        EXPECT_EQ(sim.Exchange(WriteFrame(0xFFF8, data), 1), kAck);
        EXPECT_EQ(sim.Stop(), 0);
    }
    EXPECT_EQ(ReadFile(dir + "/a.hex"),
              ":08FFF8000001020304050607E5\r\n"
              ":020000040001F9\r\n"
              ":0C00000008090A0B0C0D0E0F1011121352\r\n"
              ":00000001FF\r\n");
    std::string bin = ReadFile(dir + "/a.bin");
    ASSERT_EQ(bin.size(), 0x1000Cu);
    EXPECT_EQ(bin.find_first_not_of('\xFF'), 0xFFF8u);
    EXPECT_EQ(static_cast<uint8_t>(bin[0x1000B]), 0x13);
    {
        SimProcess sim({"--dump=" + dir + "/b.hex", "--flash-base=0x08000000", "--flash-size=128K"});
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(sim.Exchange(WriteFrame(0x08000000, {0xAA}), 1), kAck);
        EXPECT_EQ(sim.Exchange(WriteFrame(0x0, {0xAA}), 1, 300), kNothing);  // below the flash
        EXPECT_EQ(sim.Stop(), 0);
    }
    EXPECT_EQ(ReadFile(dir + "/b.hex"), ":020000040800F2\r\n:01000000AA55\r\n:00000001FF\r\n");
}

TEST(SimRun, EndsAfterExecOnInactivityAndOnSignalWritingTheDump) {
    std::string dir = MakeTempDir();
    {
        SimProcess sim({"--exit-after-exec", "--dump=" + dir + "/x.hex", "--dump-bin=" + dir + "/x.bin"});
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(sim.Exchange({'X'}, 1), kAck);
        EXPECT_EQ(sim.WaitExit(3000), 0);
        EXPECT_EQ(ReadFile(dir + "/x.hex"), ":00000001FF\r\n");
        EXPECT_TRUE(FileExists(dir + "/x.bin") && ReadFile(dir + "/x.bin").empty());
    }
    {
        SimProcess sim({"--timeout=0.3", "--dump=" + dir + "/t.hex"});
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(sim.WaitExit(5000), 2);
        EXPECT_TRUE(FileExists(dir + "/t.hex"));
    }
    {
        std::string link = dir + "/target";
        SimProcess sim({"--link=" + link, "--log=" + dir + "/wire.log"});
        ASSERT_TRUE(sim.Ready());
        char buffer[256] = {};
        ASSERT_GT(readlink(link.c_str(), buffer, sizeof buffer - 1), 0);
        EXPECT_EQ(std::string(buffer), sim.Path());
        EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_FALSE(FileExists(link));
        std::string log = ReadFile(dir + "/wire.log");
        EXPECT_NE(log.find(" H>T 43\n"), std::string::npos) << log;
        EXPECT_NE(log.find(" T>H 06\n"), std::string::npos) << log;
        EXPECT_NE(log.find("#   end on signal"), std::string::npos) << log;
    }
}

TEST(SimRun, PortCanBeOpenedAgainAfterAnExclusiveHostClosedIt) {
    SimProcess sim({});
    ASSERT_TRUE(sim.Ready());
    // A host's serial layer marks the port exclusive. The simulator keeps the terminal
    // alive between hosts, so it must not keep that mark, or the next open fails (EBUSY
    // for everyone but root, so the flag itself is checked here).
    int host = open(sim.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(host, 0);
    ASSERT_EQ(ioctl(host, TIOCEXCL), 0);
    EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);
    int exclusive = 1;
    ASSERT_EQ(ioctl(host, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(host);
}

TEST(SimRun, LineModelTakesThePhysicalTimeOfTheBytes) {
    Bytes frame = WriteFrame(0x0, Bytes(256, 0x00));
    // 265 bytes to the target and 1 back at 9600 baud, each with a start bit, the data
    // bits, the parity bit and the stop bits: 10 bits for 8N1, 12 for 8E2.
    for (double bits : {10, 12}) {
        const double physicalMs = (frame.size() + 1) * bits * 1000.0 / 9600;
        SimProcess sim({"--line-model", bits == 10 ? "--line=8N1" : "--line=8E2"}, B9600, bits == 12);
        ASSERT_TRUE(sim.Ready());
        auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(sim.Exchange(frame, 1, 5000), kAck);
        double ms = MsSince(start);
        EXPECT_GE(ms, physicalMs * 0.95) << bits;
        EXPECT_LT(ms, physicalMs + 2000) << bits;
    }
    {
        // At 3 Mbaud, the top of fast mode's rates, eight frames of 4 KiB take 110 ms.
        SimProcess sim({"--line-model", "--line=8N1"}, B3000000);
        ASSERT_TRUE(sim.Ready());
        double physicalMs = 0;
        auto start = std::chrono::steady_clock::now();
        for (uint32_t block = 0; block < 8; ++block) {
            Bytes big = WriteFrame(block * 4096, Bytes(4096, static_cast<uint8_t>(block)));
            physicalMs += (big.size() + 1) * 10 * 1000.0 / 3000000;
            ASSERT_EQ(sim.Exchange(big, 1, 5000), kAck);
        }
        EXPECT_GE(MsSince(start), physicalMs * 0.95);
    }
    {
        const double physicalMs = (frame.size() + 1) * 10 * 1000.0 / 9600;
        SimProcess sim({"--no-line-model", "--baud=9600"}, B9600);
        ASSERT_TRUE(sim.Ready());
        auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(sim.Exchange(frame, 1, 5000), kAck);
        EXPECT_LT(MsSince(start), physicalMs / 2);
    }
}

TEST(SimRun, HostWithOtherStopBitsLosesItsBytesAndTheAnswers) {
    std::string log = MakeTempDir() + "/wire.log";
    {
        SimProcess sim({"--line=8N2", "--fault=late:300@C#1", "--log=" + log});
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(sim.Exchange({'C'}, 1, 300), kNothing);
        sim.SetTwoStopBits(true);
        EXPECT_EQ(sim.Exchange({'C'}, 1, 100), kNothing);  // answered late ...
        sim.SetTwoStopBits(false);
        EXPECT_EQ(sim.Receive(1, 600), kNothing);  // ... when the host has changed again
        EXPECT_EQ(sim.Stop(), 0);
    }
    std::string notes = ReadFile(log);
    EXPECT_TRUE(Contains(notes, "#   1 byte(s) sent with 1 stop bit lost: the target's line is 8N2\n")) << notes;
    EXPECT_TRUE(Contains(notes, "#   1 answer byte(s) lost: the host's line has 1 stop bit, the target's is 8N2\n"));
    // Without --line the target takes either, as it always did.
    SimProcess sim({}, B115200, true);
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);
}

TEST(SimRun, SectorsMakeTheFlashAndTheRamIsNotProgrammedByWrites) {
    SimProcess sim({"--flash-base=0x1000", "--sectors=2x4K,0x2000", "--ram=0x10000000,4K", "--nak=15"});
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange(WriteFrame(0x4FFF, {0x00}), 1), kAck);  // the last byte of 16 KiB from 0x1000
    EXPECT_EQ(sim.Exchange(WriteFrame(0x5000, {0x00}), 1), kNak);
    EXPECT_EQ(sim.Exchange(WriteFrame(0x10000000, {0x00}), 1), kNak);
}

TEST(SimRun, HelpAndBadOptions) {
    RunResult help = RunProgram(VORLO_SIM_BIN, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    // Generic sections, then one per protocol of the table with its own options.
    for (const char* row : {"--drop-ack=LIST", "--fault=PLAN", "\nProtocol gen_iap:\n", "  reply keys:            C I W E X isp\n",
                            "\nProtocol mic_extmem:\n", "--entry-answer=HEX", "\nProtocol modbus:\n", "--forwarding=P2,P3|any",
                            "\nProtocol lpc_iap:\n", "\nProtocol mec_iap:\n", "--in-boot-rom"})
        EXPECT_TRUE(Contains(help.out, row)) << row;
    for (const char* bad : {"--protocol=nonesuch", "--block-size=70000", "--drop-ack=0", "--nak=1516", "--bogus",
                            "--isp-response=00", "--fault=dupe@W", "--fault=drop@w", "--fault=drop@W#0",
                            "--fault=late:x@W", "--fault=dup:1@W", "--line=8N3", "--sectors=3x0", "--ram=0,4K",
                            "--max-baud=9600", "--silent=1", "--protocol=modbus --slave=0", "--protocol=modbus --slave=248",
                            "--protocol=modbus --forwarding=3", "--protocol=modbus --fault=nak@0x41.06",
                            "--protocol=lpc_iap --isp-response=00", "--protocol=mec_iap --command-mode",
                            "--protocol=mec_iap --flash-size=64K", "--in-boot-rom"}) {
        std::istringstream words(bad);  // blank-separated arguments
        std::vector<std::string> args;
        for (std::string word; words >> word;) args.push_back(word);
        RunResult r = RunProgram(VORLO_SIM_BIN, args);
        EXPECT_EQ(r.exitCode, 64) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err.find("vorlo-sim: "), std::string::npos) << bad;
    }
}
