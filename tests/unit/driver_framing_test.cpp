// Wire-level pieces of the resident programming protocols.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/gen_iap_link.hpp"
#include "drivers/kit/channel_framing.hpp"
#include "drivers/modbus/frames.hpp"
#include "drivers/msp430/bsl_packet.hpp"

namespace {
std::vector<uint8_t> Bytes(std::initializer_list<int> list) { return std::vector<uint8_t>(list.begin(), list.end()); }

}  // namespace

TEST(Crc16CcittFalse, CheckValueAndContinuation) {
    const std::string check = "123456789";
    auto data = reinterpret_cast<const uint8_t*>(check.data());
    EXPECT_EQ(Crc16CcittFalse(0xFFFF, data, check.size()), 0x29B1);
    // Running over two pieces gives the same as over the whole.
    EXPECT_EQ(Crc16CcittFalse(Crc16CcittFalse(0xFFFF, data, 4), data + 4, 5), 0x29B1);
    EXPECT_EQ(Crc16CcittFalse(0xFFFF, data, 0), 0xFFFF);
}

TEST(IapWriteFrame, HeaderIsLittleEndianAndCrcCoversAddressLengthAndData) {
    uint8_t header[7];
    const uint8_t data[] = {0x01, 0x02};
    uint16_t crc = IapWriteFrame(header, 0x00001000, data, 2);
    EXPECT_EQ(std::vector<uint8_t>(header, header + 7), Bytes({'W', 0x00, 0x10, 0x00, 0x00, 0x02, 0x00}));
    const uint8_t covered[] = {0x00, 0x10, 0x00, 0x00, 0x02, 0x00, 0x01, 0x02};
    EXPECT_EQ(crc, Crc16CcittFalse(0xFFFF, covered, sizeof covered));

    const std::vector<uint8_t> block(0x100, 0xA5);
    IapWriteFrame(header, 0x12345678, block.data(), 0x0100);
    EXPECT_EQ(std::vector<uint8_t>(header + 1, header + 7), Bytes({0x78, 0x56, 0x34, 0x12, 0x00, 0x01}));
}

TEST(ApplicationFramings, EntryRequestsOnTheWire) {
    const std::vector<uint8_t> message = {0xA2, 0x00, 0x84, 0x04, 0x0C, 0x38, 0xE0, 0x1F, 0x10, 0x10, 0x16, 0x17, 0x01};
    auto then = [&message](std::initializer_list<int> tail) {
        std::vector<uint8_t> wire = message;
        wire.insert(wire.end(), tail.begin(), tail.end());
        return wire;
    };
    EXPECT_EQ(ApplicationEntryRequest(kMicFraming, true, 0x13), then({0xA2, 0x05, 0x13}));
    EXPECT_EQ(ApplicationEntryRequest(kMecFraming, true, 0x0A), then({0xA2, 0x05, 0x0A}));
    EXPECT_EQ(ApplicationEntryRequest(kLpcIapFraming, false, 0x0A), Bytes({0xA2, 0x05, 0x0A}));
}

TEST(MicFraming, SenderEscapesControlBytesAndSwitchesChannels) {
    ChannelFrameSender sender(kMicFraming);
    std::vector<uint8_t> wire;
    for (int b : {0xA0, 0xA1, 0xA2, 0xA3, 0xA4}) sender.Send(static_cast<uint8_t>(b), wire);
    EXPECT_EQ(wire, Bytes({0xA2, 0x5F, 0xA2, 0x5E, 0xA2, 0x5D, 0xA2, 0x5C, 0xA4}));

    wire.clear();
    sender.channel = 0xA1;  // a channel number that itself needs escaping
    sender.Send(0x10, wire);
    sender.Send(0x11, wire);
    EXPECT_EQ(wire, Bytes({0xA2, 0xA2, 0x5E, 0x10, 0x11}));
}

TEST(Msp430BslPacket, WrapperAndResponses) {
    // Change Baud Rate to 115200: 80 02 00 52 06 and the CRC of 52 06, low byte first.
    const uint8_t code = 0x06;
    std::vector<uint8_t> packet = BslPacket(BSL_CHANGE_BAUD_RATE, &code, 1);
    const uint8_t covered[] = {0x52, 0x06};
    uint16_t crc = Crc16CcittFalse(0xFFFF, covered, 2);
    EXPECT_EQ(packet, Bytes({0x80, 0x02, 0x00, 0x52, 0x06, crc & 0xFF, crc >> 8}));

    auto frame = [](std::vector<uint8_t> payload, int nh = 0) {
        uint16_t c = Crc16CcittFalse(0xFFFF, payload.data(), payload.size());
        std::vector<uint8_t> f = {0x80, static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(nh)};
        for (uint8_t b : payload) f.push_back(b);
        f.push_back(static_cast<uint8_t>(c));
        f.push_back(static_cast<uint8_t>(c >> 8));
        return f;
    };
    std::vector<uint8_t> f = frame({0x3B, 0x04});
    BslResponse r = BslParseResponse(f.data(), f.size());
    EXPECT_EQ(r.kind, BslResponse::Message);
    EXPECT_EQ(r.message, 4);
    f = frame({0x3A, 0x34, 0x12});
    r = BslParseResponse(f.data(), f.size());
    EXPECT_EQ(r.kind, BslResponse::Data);
    EXPECT_EQ(r.data, Bytes({0x34, 0x12}));
    f.back() ^= 1;  // a damaged CRC
    EXPECT_EQ(BslParseResponse(f.data(), f.size()).kind, BslResponse::Broken);
    f = frame({0x3B, 0x00}, 1);  // NH must be 0, whatever the CRC says
    EXPECT_EQ(BslParseResponse(f.data(), f.size()).kind, BslResponse::Broken);
    EXPECT_STREQ(BslMessageText(1), "BSL Write check failed");
    EXPECT_STREQ(BslAckText(0x56), "Unknown baudrate");
    EXPECT_EQ(BslMessageText(9), nullptr);
}

TEST(ModbusFrames, CrcFramesAndAnswers) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16Modbus(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    std::vector<uint8_t> connect = ModbusBootloaderFrame(1, {0x08});
    const uint8_t head[] = {0x01, 0x41, 0x01, 0x08};
    uint16_t crc = Crc16Modbus(head, 4);
    EXPECT_EQ(connect, Bytes({0x01, 0x41, 0x01, 0x08, crc & 0xFF, crc >> 8}));
    std::vector<uint8_t> forward = ModbusForwardingRequest(1, 3, 5);  // options "1,3,5"
    EXPECT_EQ(std::vector<uint8_t>(forward.begin(), forward.end() - 2), Bytes({0x01, 0x10, 0x07, 0xCF, 0x00, 0x01, 0x02, 0x05, 0x03}));

    std::vector<uint8_t> answer = {0x01, 0x41, 0x01, 0x06};
    crc = Crc16Modbus(answer.data(), answer.size());
    answer.push_back(crc & 0xFF);
    answer.push_back(crc >> 8);
    EXPECT_TRUE(ModbusBootloaderAnswerGood(1, answer.data(), answer.size()));
    EXPECT_FALSE(ModbusBootloaderAnswerGood(2, answer.data(), answer.size()));  // another slave
    answer[5] ^= 0x01;                                                          // the right bytes, a wrong CRC
    EXPECT_FALSE(ModbusBootloaderAnswerGood(1, answer.data(), answer.size()));
}

TEST(ApplicationFramings, LpcIapAndMecEscapesAndTheEntryAnswer) {
    std::vector<uint8_t> wire;
    ChannelFrameSender lpcIap(kLpcIapFraming);
    lpcIap.channel = 5;
    lpcIap.Send(0x0A, wire);
    lpcIap.Send(0x02, wire);  // 00..03 travel as A1 and the complement
    EXPECT_EQ(wire, Bytes({0xA2, 0x05, 0x0A, 0xA1, 0xFD}));

    wire.clear();
    ChannelFrameSender mec(kMecFraming);
    mec.channelPending = true;
    mec.Send(0xA2, wire);  // A0..A3 travel as A1 and the complement
    EXPECT_EQ(wire, Bytes({0xA2, 0x00, 0xA1, 0x5D}));

    auto entered = [](std::initializer_list<int> answer) {
        ChannelEntryReceiver receiver;
        for (int b : answer) receiver.Feed(static_cast<uint8_t>(b));
        return receiver.Entered();
    };
    EXPECT_TRUE(entered({0xA2, 0x05, 0x0B}));
    EXPECT_TRUE(entered({0x55, 0xA2, 0x05, 0xA1, 0xF4}));     // 0x0B sent complemented
    EXPECT_TRUE(entered({0xA2, 0xA1, 0xFA, 0x0B}));           // the channel number complemented
    EXPECT_TRUE(entered({0x33, 0xA2, 0x07, 0xA2, 0x05, 0x0B}));
    EXPECT_FALSE(entered({0xA2, 0x05, 0x0C, 0x0B}));          // only the first byte after the marker counts
    EXPECT_FALSE(entered({0x05, 0x0B}));                      // no channel marker
    EXPECT_FALSE(entered({0xA2, 0x04, 0x0B}));                // another channel
}
