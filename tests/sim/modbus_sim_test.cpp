// The Modbus RTU bootloader target of vorlo-sim (modbus), and the same target as an
// outside Modbus master (libmodbus) sees it.
#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <unistd.h>

#include "sim/sim_process.hpp"
#include "support/run_vorlo.hpp"

#ifdef VORLO_HAVE_LIBMODBUS
#include <modbus.h>
#endif

namespace {

const Bytes kNothing = {};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A bootloader frame (function 0x41) with its payload, and the slave's answer.
Bytes Boot(const Bytes& payload, uint8_t slave = 1) {
    return ModbusFrame(Bytes{slave, 0x41, static_cast<uint8_t>(payload.size())} + payload);
}
Bytes Answer(uint8_t code, uint8_t slave = 1) { return ModbusFrame({slave, 0x41, 0x01, code}); }
Bytes WriteBlock(uint32_t address, const Bytes& data) {
    return Boot(Bytes{0x05, static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                      static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)} + data);
}
// Write Multiple Registers of the forwarding register 0x07CF with P3 (high), P2 (low).
Bytes Forwarding(uint8_t p2, uint8_t p3, uint8_t slave = 1) {
    return ModbusFrame({slave, 0x10, 0x07, 0xCF, 0x00, 0x01, 0x02, p3, p2});
}

}  // namespace

TEST(ModbusSim, FramesAreAnsweredByFunctionWithTheirCrcAndOnlyForThisSlave) {
    const std::string check = "123456789";
    ASSERT_EQ(ReferenceCrc16Modbus(Bytes(check.begin(), check.end())), 0x4B37);
    ASSERT_EQ(HexText(Boot({0x08})), "01 41 01 08 51 9A");  // CRC low byte first

    std::string dump = MakeTempDir() + "/out.hex";
    SimProcess sim({"--protocol=modbus", "--dump=" + dump, "--fault=nak@0x41.02#1"});
    ASSERT_TRUE(sim.Ready());
    const Bytes done = Answer(0x06), refused = Answer(0x15);
    Bytes badCrc = Boot({0x08});
    badCrc.back() ^= 0x01;
    struct Case {
        const char* what;
        Bytes request, answer;
    };
    const Case cases[] = {
        {"connect", Boot({0x08}), done},
        {"two frames back to back", Boot({0x08}) + Boot({0x08}), done + done},
        {"write", WriteBlock(0x1000, Bytes(16, 0x5A)), done},
        {"the same block again", WriteBlock(0x1000, Bytes(16, 0x5A)), done},
        {"a 1 bit over a programmed 0", WriteBlock(0x1000, Bytes(16, 0xA5)), refused},
        {"past the end of the flash", WriteBlock(0xFFFFF, {0x00, 0x00}), refused},
        {"129 data bytes", WriteBlock(0x2000, Bytes(129, 0x00)), refused},
        {"erase refused by the plan", Boot({0x02}), refused},
        {"erase", Boot({0x02}), done},
        {"the other data after the erase", WriteBlock(0x1000, Bytes(16, 0xA5)), done},
        {"unknown bootloader command", Boot({0x09}), refused},
        {"forwarding register", Forwarding(3, 5), ModbusFrame({0x01, 0x10, 0x07, 0xCF, 0x00, 0x01})},
        {"another register", ModbusFrame({0x01, 0x10, 0x00, 0x01, 0x00, 0x01, 0x02, 0x00, 0x00}), ModbusFrame({0x01, 0x90, 0x02})},
        {"the register read back", ModbusFrame({0x01, 0x03, 0x07, 0xCF, 0x00, 0x01}), ModbusFrame({0x01, 0x03, 0x02, 0x05, 0x03})},
        {"write coil", ModbusFrame({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}), ModbusFrame({0x01, 0x85, 0x01})},
        {"function of unknown length", ModbusFrame({0x01, 0x2B, 0x0E, 0x01, 0x00}), ModbusFrame({0x01, 0xAB, 0x01})},
        {"another slave", Boot({0x08}, 2), kNothing},
        {"broadcast", Boot({0x02}, 0), kNothing},
        {"bad CRC", badCrc, kNothing},
        {"another slave's frame, then this one's", Boot({0x08}, 2) + Boot({0x08}), done},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes got = sim.Exchange(c.request, std::max<size_t>(c.answer.size(), 1), c.answer.empty() ? 200 : 1000);
        EXPECT_EQ(HexText(got), HexText(c.answer));
    }
    EXPECT_EQ(sim.Stop(), 0);
    // Only the block written after the erase.
    EXPECT_EQ(ReadFile(dump), ":10100000A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A590\r\n:00000001FF\r\n");
}

TEST(ModbusSim, ForwardingNeedsTheRegisterWriteBeforeEachBootloaderFrame) {
    SimProcess sim({"--protocol=modbus", "--slave=7", "--forwarding=3,5", "--baud=19200"}, B19200);
    ASSERT_TRUE(sim.Ready());
    const Bytes echo = ModbusFrame({0x07, 0x10, 0x07, 0xCF, 0x00, 0x01});
    EXPECT_EQ(sim.Exchange(Boot({0x08}, 7), 1, 300), kNothing);
    EXPECT_EQ(sim.Exchange(Forwarding(3, 5, 7), 8), echo);
    EXPECT_EQ(sim.Exchange(Boot({0x08}, 7), 6), Answer(0x06, 7));
    EXPECT_EQ(sim.Exchange(Boot({0x08}, 7), 1, 300), kNothing);  // each frame needs its own
    EXPECT_EQ(sim.Exchange(Forwarding(5, 3, 7), 8), echo);        // P2 and P3 swapped
    EXPECT_EQ(sim.Exchange(Boot({0x08}, 7), 1, 300), kNothing);
    // Back to back; the erase takes its 100 ms before the answer.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sim.Exchange(Forwarding(3, 5, 7) + Boot({0x02}, 7), 14, 2000), echo + Answer(0x06, 7));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST(ModbusSim, AnOutsideMasterWritesTheForwardingRegisterAndGetsBootloaderAnswers) {
#ifndef VORLO_HAVE_LIBMODBUS
    GTEST_SKIP() << "libmodbus was not found when the build was configured";
#else
    SimProcess sim({"--protocol=modbus", "--slave=5", "--forwarding=3,5", "--baud=19200", "--line=8E1"}, B19200);
    ASSERT_TRUE(sim.Ready());
    modbus_t* ctx = modbus_new_rtu(sim.Path().c_str(), 19200, 'E', 8, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(modbus_set_slave(ctx, 5), 0);
    ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
    modbus_set_response_timeout(ctx, 1, 0);
    // libmodbus checks the echo's slave, function, address, quantity and CRC.
    uint16_t value = 0x0503;
    EXPECT_EQ(modbus_write_registers(ctx, 0x07CF, 1, &value), 1) << modbus_strerror(errno);
    uint16_t stored = 0;
    EXPECT_EQ(modbus_read_registers(ctx, 0x07CF, 1, &stored), 1) << modbus_strerror(errno);
    EXPECT_EQ(stored, 0x0503);
    // Function 0x41 is not one libmodbus parses: the answer is read raw.
    auto raw = [&](const Bytes& request) {
        Bytes frame = request;
        EXPECT_GT(modbus_send_raw_request(ctx, frame.data(), static_cast<int>(frame.size())), 0);
        Bytes answer;
        for (pollfd p{modbus_get_socket(ctx), POLLIN, 0}; answer.size() < 6 && poll(&p, 1, 500) > 0;) {
            uint8_t buffer[16];
            ssize_t n = read(p.fd, buffer, sizeof buffer);
            if (n <= 0) break;
            answer.insert(answer.end(), buffer, buffer + n);
        }
        return answer;
    };
    EXPECT_EQ(HexText(raw({0x05, 0x41, 0x01, 0x08})), HexText(Answer(0x06, 5)));
    EXPECT_EQ(raw({0x05, 0x41, 0x01, 0x08}), kNothing);  // no register write before it
    value = 0x0305;
    EXPECT_EQ(modbus_write_registers(ctx, 0x07CF, 1, &value), 1);
    EXPECT_EQ(raw({0x05, 0x41, 0x01, 0x08}), kNothing);  // not the expected value
    // A register the slave does not have: libmodbus reports the exception.
    EXPECT_EQ(modbus_write_registers(ctx, 0x0001, 1, &value), -1);
    EXPECT_EQ(errno, EMBXILADD);
    modbus_close(ctx);
    modbus_free(ctx);
#endif
}
