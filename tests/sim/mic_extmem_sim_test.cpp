// The MIC_EXTMEM target of vorlo-sim: entry through the application's framed link,
// then the programming commands and the rate negotiation.
#include <gtest/gtest.h>

#include "sim/sim_process.hpp"
#include "support/run_vorlo.hpp"

namespace {

const Bytes kAck = {0x06};
const Bytes kNothing = {};
const Bytes kEntryRequest = HexBytes("A2 00 84 04 0C 38 E0 1F 10 10 16 17 01 A2 05 13");
const Bytes kEntryAnswer = HexBytes("A2 05 0B");

}  // namespace

TEST(MicExtmemSim, EntryRequestIsDecodedFromTheFraming) {
    SimProcess sim({"--protocol=mic_extmem"});
    ASSERT_TRUE(sim.Ready());
    // The running application does not speak the programming commands.
    EXPECT_EQ(sim.Exchange({'C'}, 1, 200), kNothing);
    // One payload byte wrong: no entry.
    Bytes wrong = kEntryRequest;
    wrong[5] = 0x39;
    EXPECT_EQ(sim.Exchange(wrong, 1, 200), kNothing);
    // The same message with bytes in their complemented forms: 84 as A1 7B, the channel
    // switch to 5 as A2 A1 FA, the end byte 13 as A1 EC.
    EXPECT_EQ(sim.Exchange(HexBytes("A2 00 A1 7B 04 0C 38 E0 1F 10 10 16 17 01 A2 A1 FA A1 EC"), 3), kEntryAnswer);
    EXPECT_EQ(sim.Exchange({'C'}, 2, 200), kAck);
}

TEST(MicExtmemSim, ProgrammingModeSpeaksTheResidentCommands) {
    std::string dump = MakeTempDir() + "/out.hex";
    SimProcess sim({"--protocol=mic_extmem", "--block-size=512", "--dump=" + dump, "--entry-answer=A2A1FA0B"});
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange(kEntryRequest, 4), HexBytes("A2 A1 FA 0B"));
    EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);
    EXPECT_EQ(sim.Exchange({'I'}, 5), HexBytes("06 00 00 00 02"));
    EXPECT_EQ(sim.Exchange({'E'}, 1), kAck);
    EXPECT_EQ(sim.Exchange(WriteFrame(0x0, Bytes(32, 0xAA)), 1), kAck);
    // A host that connects again finds the target still in programming mode.
    EXPECT_EQ(sim.Exchange(kEntryRequest, 4), HexBytes("A2 A1 FA 0B"));
    // 'X' starts the application again: back to waiting for the entry request.
    EXPECT_EQ(sim.Exchange({'X'}, 1), kAck);
    EXPECT_EQ(sim.Exchange({'C'}, 1, 200), kNothing);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadFile(dump),
              ":10000000AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA50\r\n"
              ":10001000AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA40\r\n"
              ":00000001FF\r\n");
}

TEST(MicExtmemSim, BaudNegotiationSwitchesTheTargetsRate) {
    SimProcess sim({"--protocol=mic_extmem"}, B115200);
    ASSERT_TRUE(sim.Ready());
    ASSERT_EQ(sim.Exchange(kEntryRequest, 3), kEntryAnswer);
    EXPECT_EQ(sim.Exchange(HexBytes("52 00 10 0E 00"), 5, 300), HexBytes("00 10 0E 00"));  // 921600
    // The host has not followed yet: its bytes are lost at the target.
    EXPECT_EQ(sim.Exchange({'C'}, 1, 200), kNothing);
    sim.SetBaud(B921600);
    EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);
    // After the start of code the application runs at its own rate (here: the host's).
    EXPECT_EQ(sim.Exchange({'X'}, 1), kAck);
    sim.SetBaud(B115200);
    EXPECT_EQ(sim.Exchange(kEntryRequest, 3), kEntryAnswer);
}

TEST(MicExtmemSim, BaudNegotiationLimitsAndFaults) {
    {
        SimProcess sim({"--protocol=mic_extmem", "--max-baud=230400"});
        ASSERT_TRUE(sim.Ready());
        ASSERT_EQ(sim.Exchange(kEntryRequest, 3), kEntryAnswer);
        EXPECT_EQ(sim.Exchange(HexBytes("52 00 10 0E 00"), 5, 300), HexBytes("00 84 03 00"));  // 230400
        sim.SetBaud(B230400);
        EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);
    }
    {
        SimProcess sim({"--protocol=mic_extmem", "--baud-answer-bytes=3"});
        ASSERT_TRUE(sim.Ready());
        ASSERT_EQ(sim.Exchange(kEntryRequest, 3), kEntryAnswer);
        EXPECT_EQ(sim.Exchange(HexBytes("52 00 10 0E 00"), 5, 300), HexBytes("00 10 0E"));
        EXPECT_EQ(sim.Exchange({'C'}, 1), kAck);  // a short answer changes nothing
    }
    {
        // A target with a fixed rate does not hear a host at another rate.
        SimProcess sim({"--protocol=mic_extmem", "--baud=57600", "--no-line-model"}, B115200);
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(sim.Exchange(kEntryRequest, 3, 300), kNothing);
        sim.SetBaud(B57600);
        EXPECT_EQ(sim.Exchange(kEntryRequest, 3), kEntryAnswer);
    }
}
