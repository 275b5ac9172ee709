// Option rows that several protocols declare alike. The row is written once; a protocol
// names the field of its settings that the row parses into (a pointer to a data member
// of a struct derived from ProtocolSettings) and gives the help text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol.hpp"
#include "text.hpp"

template <class Member>
struct SettingsFieldOf;
template <class Settings, class Value>
struct SettingsFieldOf<Value Settings::*> {
    using Owner = Settings;
};

// The field `kField` of the protocol settings a row is handed.
template <auto kField>
auto& SettingsField(ProtocolSettings& settings) {
    return SettingsOf<typename SettingsFieldOf<decltype(kField)>::Owner>(settings).*kField;
}

// What a row of hexadecimal bytes takes, as its error tells it: "hexadecimal bytes" for
// any number of them (count 0), "two hexadecimal bytes"...
std::string HexBytesTaken(size_t count);

// --NAME=HEX into a std::vector<uint8_t> field: any number of bytes, or exactly kCount.
template <auto kField, size_t kCount = 0>
constexpr ProtocolOption HexBytesRow(const char* name, const char* help) {
    return {name, "HEX", help, [](ProtocolSettings& s, const std::string& v, std::string& what) {
                what = HexBytesTaken(kCount);
                std::vector<uint8_t> bytes;
                if (!ParseHexBytes(v, bytes) || (kCount && bytes.size() != kCount)) return false;
                SettingsField<kField>(s) = bytes;
                return true;
            }};
}

// --NAME without a value: sets a bool field to kValue.
template <auto kField, bool kValue = true>
constexpr ProtocolOption FlagRow(const char* name, const char* help) {
    return {name, nullptr, help, [](ProtocolSettings& s, const std::string&, std::string&) {
                SettingsField<kField>(s) = kValue;
                return true;
            }};
}

// A flash cell with one weak bit: it never programs and keeps the value it had.
struct StuckBit {
    std::optional<uint32_t> address;  // none: every cell programs
    uint8_t bit = 0;                  // 0 to 7

    // What the cell at `cell` holds after programming that should leave `programmed` in
    // it, `before` being what it held.
    uint8_t Programmed(uint32_t cell, uint8_t before, uint8_t programmed) const {
        if (address != cell) return programmed;
        uint8_t mask = static_cast<uint8_t>(1u << bit);
        return static_cast<uint8_t>((programmed & ~mask) | (before & mask));
    }
};

// "ADDR:BIT", the address a number, the bit 0 to 7.
bool ParseStuckBit(const std::string& text, StuckBit& stuck);

// --stuck-bit=ADDR:BIT into a StuckBit field; kExample is the address its error shows
// as an example (one in the protocol's flash).
template <auto kField, uint32_t kExample>
constexpr ProtocolOption StuckBitRow(const char* help) {
    return {"--stuck-bit", "ADDR:BIT", help, [](ProtocolSettings& s, const std::string& v, std::string& what) {
                what = Format("a flash address and a bit 0-7, as 0x%X:3", kExample);
                return ParseStuckBit(v, SettingsField<kField>(s));
            }};
}

// An application that answers an ISP request the options configure: the settings have
// the fields ispRequest and ispResponse (hexadecimal bytes); the help texts tell what
// the protocol's application does with them.
template <class Settings>
constexpr std::array<ProtocolOption, 2> IspRequestRows(const char* requestHelp, const char* responseHelp) {
    return {HexBytesRow<&Settings::ispRequest>("--isp-request", requestHelp),
            HexBytesRow<&Settings::ispResponse>("--isp-response", responseHelp)};
}

// A response is only ever sent on a request: false with `error` for one without.
bool CheckIspRequest(const std::vector<uint8_t>& request, const std::vector<uint8_t>& response, std::string& error);
