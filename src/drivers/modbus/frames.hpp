// Modbus RTU frames of the MODBUS bootloader: its commands travel in the user-defined
// function 0x41; a standard Write Multiple Registers (0x10) of register 0x07CF tells a
// forwarding slave where the next frame goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
uint16_t Crc16Modbus(const uint8_t* data, size_t length);

// slave, 0x41, n, payload, CRC low byte first.
std::vector<uint8_t> ModbusBootloaderFrame(uint8_t slave, const std::vector<uint8_t>& payload);
// slave, 0x10, 07 CF, 00 01, 02, P3, P2, CRC: register 1999 := P3 << 8 | P2.
std::vector<uint8_t> ModbusForwardingRequest(uint8_t slave, uint8_t p2, uint8_t p3);

// The answers: exactly the listed bytes and a matching CRC.
bool ModbusBootloaderAnswerGood(uint8_t slave, const uint8_t* answer, size_t size);  // slave 41 01 06 CRC
bool ModbusForwardingAnswerGood(uint8_t slave, const uint8_t* answer, size_t size);  // slave 10 07 CF 00 01 CRC
