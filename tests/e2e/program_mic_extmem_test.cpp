// Programming the external flash of a simulated MIC_EXTMEM target end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/sim_upload.hpp"

namespace {
const std::vector<uint8_t> kEntryRequest = {0xA2, 0x00, 0x84, 0x04, 0x0C, 0x38, 0xE0, 0x1F,
                                            0x10, 0x10, 0x16, 0x17, 0x01, 0xA2, 0x05, 0x13};
}  // namespace

using MicExtmemUpload = SimUpload;

TEST_F(MicExtmemUpload, EntersProgrammingModeAndWritesBlocksOfTheAnnouncedSize) {
    CodeRecords records = {{0x0, Pattern(1000, 1)}};
    SimTarget sim({"--protocol=mic_extmem", "--block-size=512", "--exit-after-exec"});
    RunResult r = Program(sim, "MIC_EXTMEM", HexFile(records), {"-d", "--erase", "--write", "--exec"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(sim.WaitExit(5000), 0);
    EXPECT_TRUE(Contains(r.out, "\n  Ext mem pgm mode enterd"));
    EXPECT_TRUE(Contains(r.out, "\n  mic_extmem: Block size is 512"));

    // The entry request starts the conversation, exactly as the application expects it.
    std::vector<uint8_t> wire = sim.HostBytes();
    ASSERT_GE(wire.size(), kEntryRequest.size());
    EXPECT_EQ(std::vector<uint8_t>(wire.begin(), wire.begin() + kEntryRequest.size()), kEntryRequest);

    // Blocks of the announced size, padded with 0xFF to multiples of 256 bytes.
    EXPECT_EQ(sim.NotesStartingWith("mic_extmem: write"),
              (std::vector<std::string>{"mic_extmem: write 00000000, 512 bytes", "mic_extmem: write 00000200, 512 bytes"}));
    EXPECT_EQ(sim.Memory(), MemoryImage(records, 1024));
}

TEST_F(MicExtmemUpload, NegotiatesAFasterBaudRateAndWritesAtIt) {
    CodeRecords records = {{0x0, Pattern(3000, 4)}};
    SimTarget sim({"--protocol=mic_extmem", "--entry-answer=A2A1FA0B"});  // 5 sent complemented
    RunResult r = Program(sim, "MIC_EXTMEM,230400", HexFile(records), {"-d", "--write"}, 9600);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\n  Changing baud rate to 230400"));
    sim.Stop();
    std::vector<uint8_t> wire = sim.HostBytes();
    const std::vector<uint8_t> request = {'R', 0x00, 0x84, 0x03, 0x00};  // 230400, low byte first
    EXPECT_NE(std::search(wire.begin(), wire.end(), request.begin(), request.end()), wire.end());
    EXPECT_EQ(sim.Memory(), MemoryImage(records, 3072));
}

TEST_F(MicExtmemUpload, FailuresOfEntryAndRateNegotiationEndTheRun) {
    struct Case {
        std::vector<std::string> sim;
        std::string driver, error;
    };
    const Case cases[] = {
        {{"--protocol=mic_extmem", "--baud-answer-bytes=3"}, "MIC_EXTMEM,460800", "\nERROR: Baudrate negotiation failed."},
        // A GEN_IAP target never answers the entry request.
        {{"--protocol=gen_iap"}, "MIC_EXTMEM", "\nERROR: Failed to connect."},
    };
    for (const Case& c : cases) {
        SimTarget sim(c.sim);
        RunResult r = Program(sim, c.driver, "", {"--erase"});
        EXPECT_EQ(r.exitCode, 70);
        EXPECT_EQ(r.err, c.error);
    }
}
