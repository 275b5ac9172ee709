#include "serial/port_list.hpp"


#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.hpp"
#include "platform/files.hpp"
#include "platform/port_enum.hpp"
#include "serial/serial_port.hpp"

namespace {
// Names are device paths, which run long under /dev/serial/by-id/.
struct PortEntry {
    char name[256];
    char description[129];
    bool usb;
};
struct PortList {
    PortEntry ports[kPortListSize];
    int count = 0;
    char taken[256] = "";  // the name handed out last: the entry itself may be refilled
};
PortList g_list;  // the ports of the last enumeration, consumed by the search

std::vector<SystemPort> EnvironmentPorts(const std::vector<SystemPort>& known) {
    std::vector<SystemPort> ports;
    const char* env = getenv("VORLO_PORTS");
    if (!env) return ports;
    std::string text = env;
    size_t pos = 0;
    while ((pos = text.find_first_not_of(" :\t", pos)) != std::string::npos) {
        size_t end = text.find_first_of(" :\t", pos);
        std::string path = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end;
        if (!PathExists(path)) continue;  // a simulator that is gone
        bool duplicate = false;
        for (const SystemPort& p : known) duplicate = duplicate || p.name == path;
        for (const SystemPort& p : ports) duplicate = duplicate || p.name == path;
        if (duplicate) continue;
        ports.push_back({path, "virtual port", "", false});
    }
    return ports;
}
}  // namespace

int PortEnumerate(const char* filter, bool mustOpen, bool includeNonUsb, bool includeUsb) {
    g_list.count = 0;
    std::vector<SystemPort> ports = EnumerateSystemPorts();
    std::vector<SystemPort> extra = EnvironmentPorts(ports);
    ports.insert(ports.end(), extra.begin(), extra.end());

    for (const SystemPort& port : ports) {
        // More ports than the list holds: the first 32 are kept.
        if (g_list.count >= static_cast<int>(kPortListSize)) break;
        if (filter && *filter && port.name.find(filter) == std::string::npos &&
            port.description.find(filter) == std::string::npos && port.manufacturer.find(filter) == std::string::npos)
            continue;
        if (port.usb ? !includeUsb : !includeNonUsb) continue;
        if (mustOpen && !ComProbe(port.name.c_str())) continue;
        PortEntry& entry = g_list.ports[g_list.count++];
        CopyCut(entry.name, sizeof entry.name, port.name.c_str());
        CopyCut(entry.description, sizeof entry.description, port.description.c_str());
        entry.usb = port.usb;
    }
    return g_list.count;
}

const char* PortTakeNext(char* description, size_t size) {
    if (g_list.count <= 0) return nullptr;
    const PortEntry& entry = g_list.ports[--g_list.count];
    if (description && size > 0) CopyCut(description, size, entry.description);
    strcpy(g_list.taken, entry.name);
    return g_list.taken;
}
