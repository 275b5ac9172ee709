#include "drivers/msp430/bsl_packet.hpp"

#include <cstring>

#include "drivers/gen_iap_link.hpp"

namespace {
constexpr uint8_t kResponseData = 0x3A;
constexpr uint8_t kResponseMessage = 0x3B;
}  // namespace

std::vector<uint8_t> BslPacket(uint8_t command, const uint8_t* data, size_t n) {
    std::vector<uint8_t> packet(4 + n + 2);
    packet[0] = kBslHeader;
    packet[1] = static_cast<uint8_t>(n + 1);
    packet[2] = static_cast<uint8_t>((n + 1) >> 8);
    packet[3] = command;
    if (n) memcpy(packet.data() + 4, data, n);
    packet.resize(4 + n);
    uint16_t crc = Crc16CcittFalse(0xFFFF, packet.data() + 3, n + 1);
    packet.push_back(static_cast<uint8_t>(crc));
    packet.push_back(static_cast<uint8_t>(crc >> 8));
    return packet;
}

BslResponse BslParseResponse(const uint8_t* frame, size_t size) {
    BslResponse response;
    if (size < 5 || frame[0] != kBslHeader || frame[2] != 0) return response;
    size_t nl = frame[1];
    if (nl == 0 || size < 3 + nl + 2) return response;
    const uint8_t* payload = frame + 3;
    uint16_t crc = Crc16CcittFalse(0xFFFF, payload, nl);
    if ((payload[nl] | (payload[nl + 1] << 8)) != crc) return response;
    if (payload[0] == kResponseMessage && nl == 2) {
        response.kind = BslResponse::Message;
        response.message = payload[1];
    } else if (payload[0] == kResponseData) {
        response.kind = BslResponse::Data;
        response.data.assign(payload + 1, payload + nl);
    } else {
        response.kind = BslResponse::Other;
    }
    return response;
}

const char* BslAckText(uint8_t ack) {
    switch (ack) {
    case 0x51: return "Header incorrect";
    case 0x52: return "Checksum incorrect";
    case 0x53: return "Packet size zero";
    case 0x54: return "Packet size exceeds buffer";
    case 0x55: return "Unknown error";
    case 0x56: return "Unknown baudrate";
    default: return nullptr;
    }
}

const char* BslMessageText(uint8_t code) {
    static const char* const kTexts[] = {
        "BSL Operation successfull",         "BSL Write check failed",
        "BSL Flash Fail Bit Set",            "BSL Voltage Change During Program",
        "BSL Locked",                        "BSL Password Error",
        "BSL Byte Write Forbidden",          "BSL Unknown Command",
        "BSL Packet Length Exceeds Buffer Size",
    };
    return code < std::size(kTexts) ? kTexts[code] : nullptr;
}
