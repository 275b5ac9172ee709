#include "protocol.hpp"

#include <algorithm>
#include <cctype>

namespace {

const ProtocolEntry kProtocols[] = {
    {"gen_iap", "generic resident programming protocol (C, I, W, E, X)", CreateGenIapProtocol},
    {"mic_extmem", "external flash programming behind a byte-stuffed application link, with 'R'",
     CreateMicExtmemProtocol},
};

}  // namespace

std::span<const ProtocolEntry> ProtocolTable() { return kProtocols; }

const ProtocolEntry* FindProtocol(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const ProtocolEntry& entry : kProtocols)
        if (lower == entry.name) return &entry;
    return nullptr;
}
