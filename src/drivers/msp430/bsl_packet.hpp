// The packet wrapper of the MSP430F5xx/6xx UART bootstrap loader: header 0x80, length
// NL/NH, the BSL core command, CRC-16/CCITT-FALSE low byte first. Responses come in the
// same wrapper: a message (0x3B and a code) or data (0x3A and the bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint8_t kBslHeader = 0x80;
constexpr uint8_t kBslAck = 0x00;

enum BslCommand : uint8_t {
    BSL_RX_DATA_BLOCK = 0x10,
    BSL_RX_PASSWORD = 0x11,
    BSL_ERASE_SEGMENT = 0x12,
    BSL_MASS_ERASE = 0x15,
    BSL_CRC_CHECK = 0x16,
    BSL_LOAD_PC = 0x17,
    BSL_TX_DATA_BLOCK = 0x18,
    BSL_TX_VERSION = 0x19,
    BSL_CHANGE_BAUD_RATE = 0x52,
};

// The whole packet for a core command with its data (at most 255 bytes).
std::vector<uint8_t> BslPacket(uint8_t command, const uint8_t* data, size_t n);

// What a response frame (header, NL, NH, payload, CRC) holds.
struct BslResponse {
    enum Kind { Broken, Message, Data, Other } kind = Broken;
    uint8_t message = 0;        // the code of a message response
    std::vector<uint8_t> data;  // the bytes of a data response
};
// Checks the frame: NH must be 0, the CRC over the payload must match.
BslResponse BslParseResponse(const uint8_t* frame, size_t size);

// The host's text for an acknowledge byte other than 0x00 (null for unknown bytes),
// and for a message code (null for codes outside 0-8).
const char* BslAckText(uint8_t ack);
const char* BslMessageText(uint8_t code);
