// Programming the external flash of a simulated MIC_EXTMEM target end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/sim_target.hpp"
#include "support/run_vorlo.hpp"

namespace {

struct Bench {
    std::string dir = MakeTempDir();
    std::string bin = dir + "/app.bin";
    std::vector<uint8_t> data;
    explicit Bench(size_t size) {
        for (size_t i = 0; i < size; ++i) data.push_back(static_cast<uint8_t>(i * 13 + 1));
        WriteFile(bin, std::string(data.begin(), data.end()));
    }
    RunOptions Options() const {
        RunOptions o;
        o.env = {{"HOME", dir}, {"TMP", dir}};
        return o;
    }
};

const std::vector<uint8_t> kEntryRequest = {0xA2, 0x00, 0x84, 0x04, 0x0C, 0x38, 0xE0, 0x1F,
                                            0x10, 0x10, 0x16, 0x17, 0x01, 0xA2, 0x05, 0x13};
}  // namespace

TEST(MicExtmemUpload, EntersProgrammingModeErasesWritesAndStarts) {
    Bench bench(1000);
    SimTarget sim({"--protocol=mic_extmem", "--block-size=512", "--exit-after-exec"});
    RunResult r = RunVorlo({"-d", "--driver=MIC_EXTMEM", "--connection=" + sim.Connection(), "--format=binary",
                            "--importcode=" + bench.bin, "--erase", "--write", "--exec"},
                           bench.Options());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(sim.WaitExit(5000), 0);
    EXPECT_TRUE(Contains(r.out, "\n  Ext mem pgm mode enterd"));
    EXPECT_TRUE(Contains(r.out, "\n  mic_extmem: Block size is 512"));

    // The entry request starts the conversation, exactly as the application expects it.
    std::vector<uint8_t> wire = sim.HostBytes();
    ASSERT_GE(wire.size(), kEntryRequest.size());
    EXPECT_EQ(std::vector<uint8_t>(wire.begin(), wire.begin() + kEntryRequest.size()), kEntryRequest);

    // Blocks of the announced size, padded with 0xFF to multiples of 256 bytes.
    EXPECT_EQ(sim.NotesStartingWith("mic_extmem: write"), (std::vector<std::string>{"mic_extmem: write 00000000, 512 bytes",
                                                "mic_extmem: write 00000200, 512 bytes"}));
    std::vector<uint8_t> expected = bench.data;
    expected.resize(1024, 0xFF);
    EXPECT_EQ(sim.Memory(), expected);
}

TEST(MicExtmemUpload, ComplementedEntryAnswerIsUnderstood) {
    Bench bench(16);
    SimTarget sim({"--protocol=mic_extmem", "--entry-answer=A2A1FA0B"});
    RunResult r = RunVorlo({"--driver=MIC_EXTMEM", "--connection=" + sim.Connection(), "--erase"}, bench.Options());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

TEST(MicExtmemUpload, NegotiatesAFasterBaudRateAndWritesAtIt) {
    Bench bench(3000);
    SimTarget sim({"--protocol=mic_extmem"});
    RunResult r = RunVorlo({"-d", "--driver=MIC_EXTMEM,230400", "--connection=" + sim.Connection(9600),
                            "--format=BINARY", "--importcode=" + bench.bin, "--write"},
                           bench.Options());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\n  Changing baud rate to 230400"));
    sim.Stop();
    std::vector<uint8_t> wire = sim.HostBytes();
    const std::vector<uint8_t> request = {'R', 0x00, 0x84, 0x03, 0x00};  // 230400, low byte first
    EXPECT_NE(std::search(wire.begin(), wire.end(), request.begin(), request.end()), wire.end());
    std::vector<uint8_t> expected = bench.data;
    expected.resize(3072, 0xFF);
    EXPECT_EQ(sim.Memory(), expected);
}

TEST(MicExtmemUpload, AShortBaudRateAnswerEndsTheRun) {
    Bench bench(16);
    SimTarget sim({"--protocol=mic_extmem", "--baud-answer-bytes=3"});
    RunResult r = RunVorlo({"--driver=MIC_EXTMEM,460800", "--connection=" + sim.Connection(), "--erase"},
                           bench.Options());
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: Baudrate negotiation failed.");
}

TEST(MicExtmemUpload, AnApplicationThatNeverEntersFailsTheConnect) {
    Bench bench(16);
    // A GEN_IAP target never answers the entry request.
    SimTarget sim({"--protocol=gen_iap"});
    RunResult r = RunVorlo({"--driver=MIC_EXTMEM", "--connection=" + sim.Connection(), "--erase"}, bench.Options());
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: Failed to connect.");
}
