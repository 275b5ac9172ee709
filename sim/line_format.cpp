#include "line_format.hpp"

#include <cctype>

std::string LineFormat::Text() const {
    std::string text = std::to_string(dataBits) + parity;
    return text + (stopHalves == 3 ? "1.5" : stopHalves == 4 ? "2" : "1");
}

bool ParseLineFormat(const std::string& text, LineFormat& format) {
    if (text.size() < 3 || text[0] < '5' || text[0] > '8') return false;
    LineFormat f;
    f.dataBits = static_cast<uint8_t>(text[0] - '0');
    f.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    if (std::string("NEOMS").find(f.parity) == std::string::npos) return false;
    std::string stop = text.substr(2);
    if (stop == "1") f.stopHalves = 2;
    else if (stop == "1.5") f.stopHalves = 3;
    else if (stop == "2") f.stopHalves = 4;
    else return false;
    format = f;
    return true;
}
