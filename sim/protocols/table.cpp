#include "protocol.hpp"

#include <algorithm>
#include <cctype>

std::span<const ProtocolEntry* const> ProtocolTable() {
    // One row per protocol; --protocol, --help and the option parser read this table.
    static const ProtocolEntry* const table[] = {
        &GenIapProtocol(),
        &MicExtmemProtocol(),
        &LpcIspProtocol(),
        &ModbusProtocol(),
        &LpcIapProtocol(),
        &MecIapProtocol(),
        &Msp430BslProtocol(),
    };
    return table;
}

const ProtocolEntry* FindProtocol(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const ProtocolEntry* entry : ProtocolTable())
        if (lower == entry->name) return entry;
    return nullptr;
}
