// LOOPTEST and PORTLIST.
#include <cstring>

#include "base/messages.hpp"
#include "base/run_flags.hpp"
#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "serial/interface.hpp"
#include "serial/port_list.hpp"
#include "serial/serial_port.hpp"

// Loop-back test: the port's transmit and receive lines are joined. Runs until a block
// comes back short or different, or the run is aborted; ends silently.
void CmdLoopTest(const char*) {
    constexpr size_t kBlock = 128;
    OpenInterfaceCom(ConnectionString());
    uint8_t sent[kBlock] = {};
    uint8_t received[kBlock];
    int count = 0;
    while (!g_flags.abort) {
        ComWrite(sent, kBlock);
        if (ComRead(received, kBlock, 1000) < kBlock || memcmp(sent, received, kBlock) != 0) break;
        count += static_cast<int>(kBlock);
        MsgPrint(MSG_RAW, "\r%ib OK", count);
    }
    CloseInterfaceCom();
}

void CmdPortList(const char*) {
    if (PortEnumerate("", false, true, true) == 0) {
        MsgPrint(MSG_PLAIN, "No ports found!");
        return;
    }
    char description[129];
    while (const char* name = PortTakeNext(description, sizeof description)) MsgPrint(MSG_PLAIN, "%s %s", name, description);
}
