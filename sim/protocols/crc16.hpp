// CRC-16/CCITT-FALSE (polynomial 0x1021, MSB first, initial 0xFFFF, no final XOR),
// the check of the resident programming protocol's write frame.
#pragma once

#include <cstdint>
#include <span>

uint16_t Crc16CcittFalse(std::span<const uint8_t> data, uint16_t crc = 0xFFFF);

// CRC-16/MODBUS (polynomial 0xA001 reflected, initial 0xFFFF, no final XOR), the check
// of every Modbus RTU frame, sent low byte first.
uint16_t Crc16Modbus(std::span<const uint8_t> data);
