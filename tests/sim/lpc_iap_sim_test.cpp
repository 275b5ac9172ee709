// The lpc_iap target of vorlo-sim: an application whose programming mode is entered
// through its framed link (or an ISP request) and takes plain write records at 9600.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/sim_process.hpp"
#include "support/run_vorlo.hpp"

namespace {

const Bytes kAck = {0x06};
const Bytes kNak = {0x15};
const Bytes kNothing = {};

// Address and length least significant byte first, then the data; no check.
Bytes Record(uint32_t address, const Bytes& data, size_t length) {
    Bytes record = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address >> 16),
                    static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    record.insert(record.end(), data.begin(), data.end());
    return record;
}
Bytes Record(uint32_t address, const Bytes& data) { return Record(address, data, data.size()); }

}  // namespace

TEST(LpcIapSim, FramedEntryInEitherAnswerFormThenRecordsAt9600) {
    Bytes counting(16);
    for (size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(i);
    for (std::string answer : {"A2 05 0B", "A2 05 A1 F4"}) {
        SCOPED_TRACE(answer);
        std::string dump = MakeTempDir() + "/out.hex";
        SimProcess sim({"--protocol=lpc_iap", "--dump=" + dump, "--entry-answer=" + answer}, B115200);
        ASSERT_TRUE(sim.Ready());
        // Other data on channel 5, and 0A on another channel, are the application's own.
        EXPECT_EQ(sim.Exchange(HexBytes("A2 05 0B A2 07 0A"), 1, 200), kNothing);
        EXPECT_EQ(sim.Exchange(HexBytes("A2 05 0A"), HexBytes(answer).size()), HexBytes(answer));
        // The programming mode listens at 9600 only.
        EXPECT_EQ(sim.Exchange(Record(0x1000, counting), 1, 300), kNothing);
        sim.SetBaud(B9600);
        struct Case {
            const char* what;
            Bytes record, answer;
        };
        const Case cases[] = {
            {"a record", Record(0x1000, counting), kAck},
            {"a 1 bit over a programmed 0", Record(0x1000, Bytes(16, 0x80)), kNak},
            {"past the end of the flash", Record(0xFFFFF, {0x00, 0x00}), kNak},
            {"257 bytes, taken and refused", Record(0x3000, Bytes(257, 0x00)), kNak},
            {"256 bytes", Record(0x2000, Bytes(256, 0x11)), kAck},
            {"the end of the writes", Record(0, {}), kAck},
            {"and the disconnect", Record(0, {}), kAck},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            EXPECT_EQ(sim.Exchange(c.record, 1, 2000), c.answer);
        }
        EXPECT_EQ(sim.Stop(), 0);
        std::string hex = ReadFile(dump);
        EXPECT_EQ(hex.substr(0, 45), ":10100000000102030405060708090A0B0C0D0E0F68\r\n");
        EXPECT_EQ(std::count(hex.begin(), hex.end(), '\n'), 18);  // 1 + 16 records, the end record
    }
}

TEST(LpcIapSim, IspRequestEntersTooAndNakFaultsCarryNothingOut) {
    SimProcess sim({"--protocol=lpc_iap", "--isp-request=55AA", "--isp-response=AA55", "--fault=nak@isp#1;nak@record#1",
                    "--frame-timeout=200"},
                   B9600);
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange(HexBytes("55 AA"), 2, 200), kNothing);  // refused: still the application
    EXPECT_EQ(sim.Exchange(HexBytes("55 AA"), 2), HexBytes("AA 55"));
    EXPECT_EQ(sim.Exchange(Record(0, {0x01, 0x02}), 1), kNak);
    EXPECT_EQ(sim.Exchange(Record(0, {0x04, 0x08}), 1), kAck);  // the refused record was not written
    // A record cut short by a pause is dropped; the next one is taken whole.
    sim.Send(Record(0x10, {0x00}, 2));
    EXPECT_EQ(sim.Receive(1, 400), kNothing);
    EXPECT_EQ(sim.Exchange(Record(0x10, {0x00}), 1), kAck);
}
