#include "drivers/modbus/frames.hpp"

#include <algorithm>
#include <cstring>

namespace {
void AppendCrc(std::vector<uint8_t>& frame) {
    uint16_t crc = Crc16Modbus(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool Matches(const std::vector<uint8_t>& expected, const uint8_t* answer, size_t size) {
    if (size != expected.size() + 2 || memcmp(expected.data(), answer, expected.size()) != 0) return false;
    uint16_t crc = Crc16Modbus(answer, expected.size());
    return answer[expected.size()] == static_cast<uint8_t>(crc) && answer[expected.size() + 1] == static_cast<uint8_t>(crc >> 8);
}
}  // namespace

uint16_t Crc16Modbus(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> ModbusBootloaderFrame(uint8_t slave, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(3 + payload.size());
    frame[0] = slave;
    frame[1] = 0x41;
    frame[2] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), frame.begin() + 3);
    AppendCrc(frame);
    return frame;
}

std::vector<uint8_t> ModbusForwardingRequest(uint8_t slave, uint8_t p2, uint8_t p3) {
    std::vector<uint8_t> frame = {slave, 0x10, 0x07, 0xCF, 0x00, 0x01, 0x02, p3, p2};
    AppendCrc(frame);
    return frame;
}

bool ModbusBootloaderAnswerGood(uint8_t slave, const uint8_t* answer, size_t size) {
    return Matches({slave, 0x41, 0x01, 0x06}, answer, size);
}

bool ModbusForwardingAnswerGood(uint8_t slave, const uint8_t* answer, size_t size) {
    return Matches({slave, 0x10, 0x07, 0xCF, 0x00, 0x01}, answer, size);
}
