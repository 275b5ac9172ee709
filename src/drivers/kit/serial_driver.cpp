#include "drivers/kit/serial_driver.hpp"

#include <cstring>

#include "cli/messages.hpp"
#include "serial/interface.hpp"
#include "serial/serial_port.hpp"

bool SerialDriver::Open(const char* connection) {
    if (AutoSearchTake(auto_, connection)) return true;
    bool open = OpenInterfaceCom(connection);
    if (open && connection) {
        size_t start = strspn(connection, " ,");
        portName_.assign(connection + start, strcspn(connection + start, " ,"));
    }
    return open;
}

void SerialDriver::Close() { CloseInterfaceCom(); }

bool SerialDriver::ConnectHandled(const char* key, char* info, bool& found) {
    if (auto_.pending) {
        found = SerialAutoSearch(auto_, ops_, key, info, options_);
        return true;
    }
    if (!ComIsOpen() && !auto_.lastTried.empty()) {
        MsgPrint(MSG_DEBUG, "Reopen port for AUTO & contimeout");
        ops_.open(auto_.lastTried.c_str());
    }
    return false;
}
