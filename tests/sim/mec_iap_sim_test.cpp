// The mec_iap target of vorlo-sim: a 2400-baud application that drops into the LPC boot
// ROM on its framed entry request; the boot ROM is the lpc_isp target.
#include <gtest/gtest.h>

#include "sim/sim_process.hpp"

namespace {

const Bytes kNothing = {};
const Bytes kEntryRequest = HexBytes("A2 00 84 04 0C 38 E0 1F 10 10 16 17 01 A2 05 0A");
const std::string kSynchronized = "Synchronized\r\n";

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

TEST(MecIapSim, EntryAt2400ThenTheBootRomAutobaudsAt38400) {
    SimProcess sim({"--protocol=mec_iap", "--fault=nak@entry#1"}, B38400);
    ASSERT_TRUE(sim.Ready());
    // The application runs at 2400: a boot ROM probe at 38400 is lost.
    EXPECT_EQ(sim.Exchange({'?'}, 14, 300), kNothing);
    sim.SetBaud(B2400);
    Bytes wrong = kEntryRequest;
    wrong[6] = 0x39;
    EXPECT_EQ(sim.Exchange(wrong, 3, 300), kNothing);
    EXPECT_EQ(sim.Exchange(kEntryRequest, 3, 300), kNothing);  // refused by the plan
    EXPECT_EQ(sim.Exchange(kEntryRequest, 3), HexBytes("A2 05 0B"));
    sim.SetBaud(B38400);
    EXPECT_EQ(Text(sim.Exchange({'?'}, 14)), kSynchronized);
    EXPECT_EQ(IspCommand(sim, "Synchronized"), "OK\r\n");
    EXPECT_EQ(IspCommand(sim, "10000"), "OK\r\n");
    EXPECT_EQ(IspCommand(sim, "J", 2), "0\r\n67305253\r\n");  // the default part, LPC2148
    EXPECT_EQ(IspCommand(sim, "U 23130"), "0\r\n");
}

TEST(MecIapSim, StartsInTheBootRomWithTheLpcIspPartOptions) {
    SimProcess sim({"--protocol=mec_iap", "--in-boot-rom", "--part=LPC1768", "--boot-version=4.2"}, B38400);
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(Text(sim.Exchange({'?'}, 14)), kSynchronized);
    EXPECT_EQ(IspCommand(sim, "Synchronized"), "OK\r\n");
    EXPECT_EQ(IspCommand(sim, "10000"), "OK\r\n");
    EXPECT_EQ(IspCommand(sim, "J", 2), "0\r\n637615927\r\n");
    EXPECT_EQ(IspCommand(sim, "K", 3), "0\r\n2\r\n4\r\n");
}
