#include "protocols/crc16.hpp"

#include <array>

uint16_t Crc16CcittFalse(std::span<const uint8_t> data, uint16_t crc) {
    // Table-free byte-wise form of the 0x1021 polynomial.
    for (uint8_t byte : data) {
        uint8_t x = static_cast<uint8_t>((crc >> 8) ^ byte);
        x = static_cast<uint8_t>(x ^ (x >> 4));
        crc = static_cast<uint16_t>((crc << 8) ^ (uint16_t{x} << 12) ^ (uint16_t{x} << 5) ^ x);
    }
    return crc;
}

namespace {

// The CRC of every byte value, so that a byte takes one look-up instead of eight shifts.
constexpr std::array<uint16_t, 256> ModbusTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint16_t crc = static_cast<uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kModbusTable = ModbusTable();

}  // namespace

uint16_t Crc16Modbus(std::span<const uint8_t> data) {
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : data) crc = static_cast<uint16_t>((crc >> 8) ^ kModbusTable[(crc ^ byte) & 0xFF]);
    return crc;
}
