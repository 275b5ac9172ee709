// Programming a simulated GEN_IAP target end to end, over a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "drivers/gen_iap_link.hpp"
#include "support/sim_upload.hpp"

using GenIapUpload = SimUpload;

TEST_F(GenIapUpload, ProgramsPaddedAlignedBlocksInImageOrderAndStarts) {
    CodeRecords records = {{0x100, Pattern(10, 1)}, {0x300, Pattern(300, 9)}};
    SimTarget sim({"--exit-after-exec"});
    RunResult r = Program(sim, "GEN_IAP", HexFile(records), {"--erase", "--write", "--exec"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(sim.WaitExit(5000), 0);
    EXPECT_TRUE(Contains(r.out, "\n\rConnecting .. OK   \nErasing device .. OK\nWriting.\n"));
    EXPECT_TRUE(Contains(r.out, "\r[##############################] 320"));

    // Blocks of at most 256 bytes on 256-byte boundaries, each padded to 16 bytes.
    EXPECT_EQ(sim.NotesStartingWith("gen_iap: write"),
              (std::vector<std::string>{"gen_iap: write 00000100, 16 bytes", "gen_iap: write 00000300, 256 bytes",
                                        "gen_iap: write 00000400, 48 bytes"}));
    EXPECT_EQ(sim.Memory(), MemoryImage(records, 0x430));
}

TEST_F(GenIapUpload, WriteFrameOnTheWire) {
    SimTarget sim({});
    RunResult r = Program(sim, "gen_iap", HexFile({{0x1000, {0x01, 0x02}}}), {"--write"});
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

TEST_F(GenIapUpload, ConnectsOnceForTwoWritesAndAgainAfterDisconnect) {
    SimTarget sim({"--overwrite"});
    RunResult r = Program(sim, "GEN_IAP", HexFile({{0x0, Pattern(64, 3)}}), {"--write", "--write", "--disconnect", "--write"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    sim.Stop();
    EXPECT_EQ(sim.CommandCount('I'), 2);
    EXPECT_EQ(sim.NotesStartingWith("gen_iap: write").size(), 3u);
}

TEST_F(GenIapUpload, EraseListsEraseTheWholeDeviceOncePerItemAndSaySo) {
    SimTarget sim({});
    RunResult r = Program(sim, "GEN_IAP", "", {"--erase=0-3,,7"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    sim.Stop();
    EXPECT_EQ(sim.CommandCount('E'), 2);
    EXPECT_TRUE(Contains(r.out, "Erasing device .. \nWARNING: gen_iap: No partial erase supported.\n"
                                "NOTE: gen_iap: Full erase performed. OK\nWARNING: gen_iap: No partial erase supported.\n"
                                "NOTE: gen_iap: Full erase performed. OK"))
        << r.out;
}

TEST_F(GenIapUpload, ASilentTargetCountsDownAndFailsToConnect) {
    SimTarget sim({"--silent"});
    RunResult r = Program(sim, "GEN_IAP", HexFile({{0x0, Pattern(16, 3)}}), {"--contout=2", "--write"});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: Failed to connect.");
    EXPECT_TRUE(Contains(r.out, "\rConnecting ..  1s      ")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\rConnecting ..  0s      \r" + std::string(28, ' ') + "\r"));
    EXPECT_FALSE(Contains(r.out, "Writing."));
    EXPECT_EQ(ListDir(dir).size(), 1u);  // only the code file: no command file left
}

TEST_F(GenIapUpload, ATargetThatStopsAnsweringFailsTheRun) {
    // Synchronise and info are answered, then nothing: three tries of 5 s each.
    SimTarget sim({"--no-ack-after=2"});
    RunResult r = Program(sim, "GEN_IAP", HexFile({{0x0, Pattern(600, 5)}}), {"--write"});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: Programming failed.");
}

TEST_F(GenIapUpload, WithoutCodeWriteWarnsAndSkips) {
    RunResult r = RunVorlo({"--driver=GEN_IAP", "--write", "--echo=after"}, Options());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Contains(r.out, "\nWARNING: No code to write.\nafter"));
}

TEST_F(GenIapUpload, LongDevicePathsWorkForConnectionReqispAndTheAutoSearch) {
    CodeRecords records = {{0x0, Pattern(48, 2)}};
    std::string hex = HexFile(records);
    SimTarget sim({"--isp-request=55AA", "--isp-response=AA55", "--overwrite"});
    // A stable name as udev makes them for USB adapters, 80 characters and more.
    std::string byId = dir + "/dev/serial/by-id";
    std::filesystem::create_directories(byId);
    std::string link = byId + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    ASSERT_GE(link.size(), 80u);
    ASSERT_EQ(symlink(sim.Path().c_str(), link.c_str()), 0);

    RunResult r = RunVorlo({"--driver=GEN_IAP", "--connection=" + link + ",115200,8,N,1", "--reqisp=55AA,AA55",
                            "--importcode=" + hex, "--write"},
                           Options());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

    // The search finds it through VORLO_PORTS and remembers the whole path; reading and
    // writing the remembered port leaves standard error clean.
    RunOptions options = Options();
    options.env["VORLO_PORTS"] = link + ":" + dir + "/no-such-port";
    r = RunVorlo({"--driver=GEN_IAP", "--connection=AUTO,115200,8,N,1", "--importcode=" + hex, "--write"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(Contains(r.out, "Trying port " + link));
    EXPECT_TRUE(Contains(ReadFile(dir + "/.Vorlo"), "AutoPort=" + link + "\n"));
    sim.Stop();
    EXPECT_EQ(sim.NotesStartingWith("gen_iap: write").size(), 2u);
    EXPECT_EQ(sim.Memory(), MemoryImage(records, 48));
}
