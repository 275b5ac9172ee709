#include "protocols/crc16.hpp"

uint16_t Crc16CcittFalse(std::span<const uint8_t> data, uint16_t crc) {
    // Table-free byte-wise form of the 0x1021 polynomial.
    for (uint8_t byte : data) {
        uint8_t x = static_cast<uint8_t>((crc >> 8) ^ byte);
        x = static_cast<uint8_t>(x ^ (x >> 4));
        crc = static_cast<uint16_t>((crc << 8) ^ (uint16_t{x} << 12) ^ (uint16_t{x} << 5) ^ x);
    }
    return crc;
}
