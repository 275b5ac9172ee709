#include "protocols/option_rows.hpp"

std::string HexBytesTaken(size_t count) {
    switch (count) {
    case 0: return "hexadecimal bytes";
    case 1: return "one hexadecimal byte";
    case 2: return "two hexadecimal bytes";
    default: return std::to_string(count) + " hexadecimal bytes";
    }
}

bool ParseStuckBit(const std::string& text, StuckBit& stuck) {
    size_t colon = text.find(':');
    uint32_t address = 0, bit = 0;
    if (colon == std::string::npos || !ParseU32(text.substr(0, colon), address) ||
        !ParseU32(text.substr(colon + 1), bit, 7))
        return false;
    stuck.address = address;
    stuck.bit = static_cast<uint8_t>(bit);
    return true;
}

bool CheckIspRequest(const std::vector<uint8_t>& request, const std::vector<uint8_t>& response, std::string& error) {
    if (!response.empty() && request.empty()) {
        error = "--isp-response needs --isp-request";
        return false;
    }
    return true;
}
