// The GEN_IAP target of vorlo-sim, driven over its pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

#include "sim/sim_process.hpp"
#include "support/run_vorlo.hpp"

namespace {

const Bytes kAck = {0x06};
const Bytes kNak = {0x15};
const Bytes kNothing = {};

}  // namespace

TEST(GenIapSim, AnswersSynchroniseInfoEraseAndExecute) {
    SimProcess sim({"--block-size=1024", "--info-prefix=1234"});
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange({'C'}, 2, 200), kAck);  // exactly one byte, nothing after it
    EXPECT_EQ(sim.Exchange({'I'}, 6, 200), HexBytes("06 12 34 00 04"));
    EXPECT_EQ(sim.Exchange({'E'}, 2, 200), kAck);
    EXPECT_EQ(sim.Exchange({'X'}, 2, 200), kAck);
    // Without --exit-after-exec the target keeps answering.
    EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(GenIapSim, WriteFrameIsCheckedWithCrc16CcittFalse) {
    const std::string text = "123456789";
    ASSERT_EQ(ReferenceCrc16(Bytes(text.begin(), text.end())), 0x29B1);

    std::string dump = MakeTempDir() + "/out.hex";
    SimProcess sim({"--dump=" + dump, "--nak=15"});
    ASSERT_TRUE(sim.Ready());

    Bytes frame = WriteFrame(0x1000, {0x01, 0x02});
    ASSERT_EQ(frame.size(), 11u);
    EXPECT_EQ(HexText(Bytes(frame.begin(), frame.begin() + 9)), "57 00 10 00 00 02 00 01 02");

    Bytes badCrc = frame;
    badCrc[9] ^= 0x01;
    EXPECT_EQ(sim.Exchange(badCrc, 1), kNak);
    Bytes badData = frame;
    badData[8] = 0x03;  // data changed after the CRC was made: covered by the CRC
    EXPECT_EQ(sim.Exchange(badData, 1), kNak);
    Bytes badAddress = frame;
    badAddress[1] = 0x01;  // the address is covered too
    EXPECT_EQ(sim.Exchange(badAddress, 1), kNak);
    EXPECT_EQ(sim.Exchange(frame, 1), kAck);

    // The largest block the target's buffer takes, and one byte more.
    EXPECT_EQ(sim.Exchange(WriteFrame(0x8000, Bytes(4096, 0x5A)), 1, 2000), kAck);
    EXPECT_EQ(sim.Exchange(WriteFrame(0x20000, Bytes(4097, 0x5A)), 1, 2000), kNak);

    EXPECT_EQ(sim.Stop(), 0);
    std::string hex = ReadFile(dump);
    EXPECT_EQ(hex.substr(0, 17), ":021000000102EB\r\n");
    // The 0x1000 record, 256 records of the 4096-byte block, the end record; nothing of
    // the refused 4097-byte block at 0x20000.
    EXPECT_EQ(std::count(hex.begin(), hex.end(), '\n'), 1 + 256 + 1);
    EXPECT_NE(hex.find("\r\n:108000005A5A"), std::string::npos);
    EXPECT_EQ(hex.find(":02000004"), std::string::npos);
}

TEST(GenIapSim, WithoutNakARefusedFrameGetsNoAnswer) {
    SimProcess sim({});
    ASSERT_TRUE(sim.Ready());
    Bytes frame = WriteFrame(0x0, {0xAA});
    frame.back() ^= 0xFF;
    EXPECT_EQ(sim.Exchange(frame, 1, 300), kNothing);
    EXPECT_EQ(sim.Exchange(WriteFrame(0x0, {0xAA}), 1), kAck);
}

TEST(GenIapSim, FlashNeedsEraseBeforeProgrammingOnesAgain) {
    std::string dir = MakeTempDir();
    SimProcess sim({"--dump=" + dir + "/out.hex", "--flash-size=64K", "--nak=15"});
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange(WriteFrame(0x100, {0x00, 0xFF}), 1), kAck);
    // The same data again only clears bits that are already clear, as a resent block does.
    EXPECT_EQ(sim.Exchange(WriteFrame(0x100, {0x00, 0xFF}), 1), kAck);
    EXPECT_EQ(sim.Exchange(WriteFrame(0x100, {0xFF, 0x00}), 1), kNak);
    EXPECT_EQ(sim.Exchange(WriteFrame(0xFFFF, {0x11, 0x22}), 1), kNak);  // runs past the 64 KiB flash
    EXPECT_EQ(sim.Exchange({'E'}, 1), kAck);
    EXPECT_EQ(sim.Exchange(WriteFrame(0x100, {0xFF, 0x00}), 1), kAck);
    EXPECT_EQ(sim.Stop(), 0);
    // Only what was written since the erase: the earlier 00 FF is gone.
    EXPECT_EQ(ReadFile(dir + "/out.hex"), ":02010000FF00FE\r\n:00000001FF\r\n");
}

TEST(GenIapSim, IspRequestWakesTheProgrammingRoutine) {
    SimProcess sim({"--isp-request=3F 3F", "--isp-response=4F4B"});
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange({'C'}, 1, 200), kNothing);  // the application does not know 'C'
    EXPECT_EQ(sim.Exchange({0x3F, 0x3F}, 2), HexBytes("4F 4B"));
    EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);
    // A byte that starts like the request but is not one stays an ordinary byte.
    EXPECT_EQ(sim.Exchange({0x3F, 'C'}, 1), kAck);
    // A later connect asks again and is answered again.
    EXPECT_EQ(sim.Exchange({0x3F, 0x3F}, 2), HexBytes("4F 4B"));
    // Frame data that looks like the request is frame data.
    EXPECT_EQ(sim.Exchange(WriteFrame(0x0, {0x3F, 0x3F}), 2, 300), kAck);
}

TEST(GenIapSim, PartialFrameIsDroppedAfterAPause) {
    SimProcess sim({"--frame-timeout=100"});
    ASSERT_TRUE(sim.Ready());
    sim.Send({'W', 0x00, 0x00});
    usleep(300000);
    EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);
}
