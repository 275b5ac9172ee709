// Programming a simulated GEN_IAP target end to end, over a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "drivers/gen_iap_link.hpp"
#include "e2e/sim_target.hpp"
#include "support/run_vorlo.hpp"

namespace {

// Intel HEX text of the given records (16 bytes per line, no extended addresses).
std::string HexFile(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& records) {
    std::string text;
    char line[80];
    for (const auto& [address, data] : records) {
        for (size_t at = 0; at < data.size(); at += 16) {
            size_t n = std::min<size_t>(16, data.size() - at);
            uint32_t a = address + static_cast<uint32_t>(at);
            unsigned sum = static_cast<unsigned>(n + (a >> 8) + (a & 0xFF));
            int len = snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n), a & 0xFFFF);
            for (size_t i = 0; i < n; ++i) {
                len += snprintf(line + len, sizeof line - len, "%02X", data[at + i]);
                sum += data[at + i];
            }
            snprintf(line + len, sizeof line - len, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
            text += line;
        }
    }
    return text + ":00000001FF\r\n";
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
    return data;
}

struct Bench {
    std::string dir = MakeTempDir();
    std::string hex = dir + "/app.hex";
    RunOptions Options() const {
        RunOptions o;
        o.env = {{"HOME", dir}, {"TMP", dir}};
        o.timeoutMs = 60000;
        return o;
    }
};
}  // namespace

TEST(GenIapUpload, ProgramsPaddedAlignedBlocksInImageOrderAndStarts) {
    Bench bench;
    std::vector<uint8_t> small = Pattern(10, 1), large = Pattern(300, 9);
    WriteFile(bench.hex, HexFile({{0x100, small}, {0x300, large}}));
    SimTarget sim({"--exit-after-exec"});
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + sim.Connection(), "--importcode=" + bench.hex,
                            "--erase", "--write", "--exec"},
                           bench.Options());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(sim.WaitExit(5000), 0);
    EXPECT_TRUE(Contains(r.out, "\n\rConnecting .. OK   \nErasing device .. OK\nWriting.\n"));
    EXPECT_TRUE(Contains(r.out, "\r[##############################] 320"));

    // Blocks of at most 256 bytes on 256-byte boundaries, each padded to 16 bytes.
    EXPECT_EQ(sim.NotesStartingWith("gen_iap: write"), (std::vector<std::string>{"gen_iap: write 00000100, 16 bytes", "gen_iap: write 00000300, 256 bytes",
                                                "gen_iap: write 00000400, 48 bytes"}));
    std::vector<uint8_t> expected(0x430, 0xFF);
    std::copy(small.begin(), small.end(), expected.begin() + 0x100);
    std::copy(large.begin(), large.end(), expected.begin() + 0x300);
    EXPECT_EQ(sim.Memory(), expected);
}

TEST(GenIapUpload, WriteFrameOnTheWire) {
    Bench bench;
    WriteFile(bench.hex, HexFile({{0x1000, {0x01, 0x02}}}));
    SimTarget sim({});
    RunResult r = RunVorlo({"--driver=gen_iap", "--connection=" + sim.Connection(), "--importcode=" + bench.hex, "--write"},
                           bench.Options());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    sim.Stop();
    std::vector<uint8_t> data = {0x01, 0x02};
    data.resize(16, 0xFF);
    std::vector<uint8_t> frame = {'W', 0x00, 0x10, 0x00, 0x00, 0x10, 0x00};
    uint16_t crc = Crc16CcittFalse(Crc16CcittFalse(0xFFFF, frame.data() + 1, 6), data.data(), data.size());
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    // Synchronise, info, then the frame; the end call of the write sends nothing.
    std::vector<uint8_t> wire = sim.HostBytes();
    ASSERT_GE(wire.size(), frame.size());
    EXPECT_EQ(std::vector<uint8_t>(wire.end() - frame.size(), wire.end()), frame);
    EXPECT_EQ(std::vector<uint8_t>(wire.begin(), wire.begin() + 2), (std::vector<uint8_t>{'C', 'I'}));
}

TEST(GenIapUpload, ConnectsOnceForTwoWritesAndAgainAfterDisconnect) {
    Bench bench;
    WriteFile(bench.hex, HexFile({{0x0, Pattern(64, 3)}}));
    SimTarget sim({"--overwrite"});
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + sim.Connection(), "--importcode=" + bench.hex, "--write",
                            "--write", "--disconnect", "--write"},
                           bench.Options());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    sim.Stop();
    EXPECT_EQ(sim.CommandCount('I'), 2);
    EXPECT_EQ(sim.NotesStartingWith("gen_iap: write").size(), 3u);
}

TEST(GenIapUpload, EraseListsEraseTheWholeDeviceOncePerItemAndSaySo) {
    Bench bench;
    SimTarget sim({});
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + sim.Connection(), "--erase=0-3,,7"}, bench.Options());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    sim.Stop();
    EXPECT_EQ(sim.CommandCount('E'), 2);
    EXPECT_TRUE(Contains(r.out, "Erasing device .. \nWARNING: gen_iap: No partial erase supported.\n"
                                "NOTE: gen_iap: Full erase performed. OK\nWARNING: gen_iap: No partial erase supported.\n"
                                "NOTE: gen_iap: Full erase performed. OK"))
        << r.out;
}

TEST(GenIapUpload, ASilentTargetCountsDownAndFailsToConnect) {
    Bench bench;
    WriteFile(bench.hex, HexFile({{0x0, Pattern(16, 3)}}));
    SimTarget sim({"--silent"});
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + sim.Connection(), "--contout=2",
                            "--importcode=" + bench.hex, "--write"},
                           bench.Options());
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: Failed to connect.");
    EXPECT_TRUE(Contains(r.out, "\rConnecting ..  1s      ")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\rConnecting ..  0s      \r" + std::string(28, ' ') + "\r"));
    EXPECT_FALSE(Contains(r.out, "Writing."));
    EXPECT_TRUE(ListDir(bench.dir).size() == 1);  // only the code file: no command file left
}

TEST(GenIapUpload, ALostAcknowledgeIsRetriedAndATargetThatStopsAnsweringFailsTheRun) {
    Bench bench;
    WriteFile(bench.hex, HexFile({{0x0, Pattern(600, 5)}}));
    {
        SimTarget sim({"--drop-ack=W:2"});
        RunResult r = RunVorlo({"-d", "--driver=GEN_IAP", "--connection=" + sim.Connection(),
                                "--importcode=" + bench.hex, "--write"},
                               bench.Options());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(Contains(r.out, "\n  gen_iap: Failed to write. Try 1"));
        sim.Stop();
        std::vector<uint8_t> expected = Pattern(600, 5);
        expected.resize(608, 0xFF);
        EXPECT_EQ(sim.Memory(), expected);
    }
    {
        // Synchronise and info are answered, then nothing: three tries of 5 s each.
        SimTarget sim({"--no-ack-after=2"});
        RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + sim.Connection(), "--importcode=" + bench.hex,
                                "--write"},
                               bench.Options());
        EXPECT_EQ(r.exitCode, 70);
        EXPECT_EQ(r.err, "\nERROR: Programming failed.");
    }
}

TEST(GenIapUpload, AutoSearchFindsTheSimulatorAndRemembersIt) {
    Bench bench;
    WriteFile(bench.hex, HexFile({{0x0, Pattern(32, 1)}}));
    SimTarget sim({});
    RunOptions options = bench.Options();
    options.env["VORLO_PORTS"] = sim.Path() + ":" + bench.dir + "/no-such-port";
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=AUTO,115200,8,N,1", "--importcode=" + bench.hex, "--write"},
                           options);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Trying port " + sim.Path()));
    EXPECT_TRUE(Contains(ReadFile(bench.dir + "/.Vorlo"), sim.Path()));
    // Reading and writing the remembered port leaves standard error clean.
    EXPECT_EQ(r.err, "");
}

TEST(GenIapUpload, WithoutCodeWriteWarnsAndSkips) {
    Bench bench;
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--write", "--echo=after"}, bench.Options());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Contains(r.out, "\nWARNING: No code to write.\nafter"));
}

TEST(GenIapUpload, IspRequestAnsweredByTheApplication) {
    Bench bench;
    SimTarget sim({"--isp-request=55AA", "--isp-response=AA55"});
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + sim.Connection(), "--reqisp=55AA,AA55", "--erase"},
                           bench.Options());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

TEST(GenIapUpload, LongDevicePathsWorkForConnectionReqispAndTheAutoSearch) {
    Bench bench;
    WriteFile(bench.hex, HexFile({{0x0, Pattern(48, 2)}}));
    SimTarget sim({"--isp-request=55AA", "--isp-response=AA55", "--overwrite"});
    // A stable name as udev makes them for USB adapters, 80 characters and more.
    std::string dir = bench.dir + "/dev/serial/by-id";
    std::filesystem::create_directories(dir);
    std::string link = dir + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    ASSERT_GE(link.size(), 80u);
    ASSERT_EQ(symlink(sim.Path().c_str(), link.c_str()), 0);

    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + link + ",115200,8,N,1", "--reqisp=55AA,AA55",
                            "--importcode=" + bench.hex, "--write"},
                           bench.Options());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

    RunOptions options = bench.Options();
    options.env["VORLO_PORTS"] = link;
    r = RunVorlo({"--driver=GEN_IAP", "--connection=AUTO,115200,8,N,1", "--importcode=" + bench.hex, "--write"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Trying port " + link));
    EXPECT_TRUE(Contains(ReadFile(bench.dir + "/.Vorlo"), "AutoPort=" + link + "\n"));
    sim.Stop();
    EXPECT_EQ(sim.NotesStartingWith("gen_iap: write").size(), 2u);
    std::vector<uint8_t> expected = Pattern(48, 2);
    EXPECT_EQ(sim.Memory(), expected);
}
