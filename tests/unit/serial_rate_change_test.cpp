// What a pseudo-terminal cannot show: the character format and the modem lines across
// a rate change inside a session, and the reason a port could not be opened.
#include <gtest/gtest.h>

#include <unistd.h>

#include "commands/dispatcher.hpp"
#include "drivers/registry.hpp"
#include "serial/serial_port.hpp"
#include "support/sim_target.hpp"
#include "unit/serial_device_fake.hpp"
#include "unit/serial_pty.hpp"

namespace {
class RateChangeTest : public ::testing::Test {
protected:
    void SetUp() override { SetSerialDevice(&device); }
    void TearDown() override {
        ComClose();
        SetSerialDevice(nullptr);
    }
    RecordingDevice device;
};

bool SameLine(const serialdev::LineSettings& a, const serialdev::LineSettings& b) {
    return a.baud == b.baud && a.dataBits == b.dataBits && a.parity == b.parity && a.stopBits == b.stopBits;
}
}  // namespace

TEST_F(RateChangeTest, OnlyTheRateChangesAndTheModemLinesStay) {
    PtyPair pty;
    ComOpen(pty.SlavePath().c_str());
    ASSERT_TRUE(ComSetParams(9600, 7, 2, 2));
    EXPECT_EQ(device.modem, (std::vector<std::string>{"DTR off", "RTS off"}));  // a full setting: both off
    ComSetDtr(true);
    ComSetRts(false);
    device.modem.clear();

    ASSERT_TRUE(ComSetBaudRate(921600));
    EXPECT_TRUE(SameLine(device.lines.back(), {921600, 7, 2, 2}));
    EXPECT_EQ(ComBaudRate(), 921600u);
    EXPECT_EQ(device.Level("DTR"), "on");
    EXPECT_EQ(device.Level("RTS"), "off");
    for (const std::string& change : device.modem) EXPECT_NE(change, "DTR off");
    // 1 start + 7 data + parity + 2 stop bits at 921600 baud.
    EXPECT_EQ(ComCharTimeUs(), 12u);
}

TEST_F(RateChangeTest, MicExtmemRaisesTheRateWithoutTouchingFormatOrLines) {
    SimTarget sim({"--protocol=mic_extmem"});
    CmdDispatch("--driver=MIC_EXTMEM,230400");
    CmdDispatch(("--connection=" + sim.Path() + ",115200,8,E,1").c_str());
    const DriverDescriptor& driver = CurrentDriver();
    ASSERT_TRUE(DevOpenInterface(driver, sim.Connection(115200).c_str()));
    ComSetParams(115200, 8, 2, 0);
    ComSetDtr(true);  // a board that keeps its reset released through DTR
    char info[kDriverInfoSize] = "";
    ASSERT_TRUE(DevConnect(driver, "", info));
    EXPECT_TRUE(SameLine(device.lines.back(), {230400, 8, 2, 0}));
    EXPECT_EQ(device.Level("DTR"), "on");
    DevCloseInterface(driver, 0);
}

TEST_F(RateChangeTest, TheLpcHandOverToItsRamRoutineLeavesTheResetLineAlone) {
    SimTarget sim({"--protocol=lpc_isp", "--part=LPC1768"});
    CmdDispatch("--resetctrl=DTR,0");
    CmdDispatch("--pgmenctrl=RTS,0");
    CmdDispatch("--driver=LPC2000_ISP,12000,921600");
    ASSERT_TRUE(DevOpenInterface(CurrentDriver(), sim.Connection(115200).c_str()));
    char info[kDriverInfoSize] = "";
    ASSERT_TRUE(DevConnect(CurrentDriver(), "", info));
    EXPECT_STREQ(CurrentDriverName(), "GEN_IAP");
    ASSERT_TRUE(SameLine(device.lines.back(), {921600, 8, 0, 0}));
    // After the reset pulse of the entry the part runs: its reset line (DTR, active low)
    // stays high through the rate change and the routine's connect.
    EXPECT_EQ(device.Level("DTR"), "on");
    size_t released = device.modem.size();
    for (size_t i = 0; i < device.modem.size(); ++i)
        if (device.modem[i] == "DTR on") released = i;
    for (size_t i = released; i < device.modem.size(); ++i) EXPECT_NE(device.modem[i], "DTR off");
    DevCloseInterface(CurrentDriver(), 0);
    CmdDispatch("--resetctrl=");
    CmdDispatch("--pgmenctrl=");
}

TEST_F(RateChangeTest, TheMsp430BslRunsAt8E1BeforeAndAfterItsRateChange) {
    // Linux forces 8 data bits without parity on a pseudo-terminal: the even parity the
    // BSL needs shows only here, below it.
    SimTarget sim({"--protocol=msp430_bsl"});
    CmdDispatch("--driver=MSP430BSL");
    ASSERT_TRUE(DevOpenInterface(CurrentDriver(), sim.Connection(115200).c_str()));
    char info[kDriverInfoSize] = "";
    ASSERT_TRUE(DevConnect(CurrentDriver(), "", info));
    ASSERT_GE(device.lines.size(), 3u);
    EXPECT_TRUE(SameLine(device.lines[device.lines.size() - 2], {9600, 8, 2, 0}));
    EXPECT_TRUE(SameLine(device.lines.back(), {115200, 8, 2, 0}));
    DevCloseInterface(CurrentDriver(), 0);
}

TEST_F(RateChangeTest, APortThatCannotBeOpenedSaysWhy) {
    // The system's reasons: a device that is not there, and one held by another program.
    PtyPair pty;
    serialdev::OpenFailure why;
    EXPECT_FALSE(serialdev::System().Open("/dev/ttyUSB77", why));
    EXPECT_EQ(why.reason, "No such device");
    std::unique_ptr<serialdev::Port> held = serialdev::System().Open(pty.SlavePath(), why);
    ASSERT_TRUE(held);
    EXPECT_FALSE(serialdev::System().Open(pty.SlavePath(), why));
    EXPECT_EQ(why.reason, "In use by another program");
    EXPECT_TRUE(held->RestoreAndClose());
    // How the layer says it: the hint first, as a note.
    device.openFailure = {"Permission denied", "Serial devices belong to the dialout group."};
    EXPECT_EXIT((dup2(2, 1), ComOpen("/dev/ttyUSB7")), testing::ExitedWithCode(70),
                "NOTE: Serial devices belong to the dialout group.\n*ERROR: Can't open /dev/ttyUSB7: Permission denied");
}
