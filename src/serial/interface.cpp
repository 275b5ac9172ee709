#include "serial/interface.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/messages.hpp"
#include "serial/serial_port.hpp"

namespace {
constexpr const char* kModule = "interface.cpp";
constexpr const char* kDefaultPort = "COM1";
// What the open port was opened with; cleared when it closes.
std::string g_opened;
}  // namespace

bool OpenInterfaceCom(const char* connection) {
    MsgPrint(MSG_DEBUG, "Open interface.");
    CloseInterfaceCom();  // one port at a time
    if (!connection) {
        ComOpen(kDefaultPort);
        ComSetParams(9600, 8, 0, 0);
        g_opened = "";
        return true;
    }
    if (strlen(connection) > kMaxConnectionChars)
        MsgPrint(MSG_ERROR, "OpenInterfaceCom()@%s: Too long settings str", kModule);

    std::string copyText = connection;
    char* copy = copyText.data();
    char* save = nullptr;
    const char* port = strtok_r(copy, " ,", &save);
    char* baudText = strtok_r(nullptr, " ,", &save);
    char* dataText = strtok_r(nullptr, " ,", &save);
    char* parityText = strtok_r(nullptr, " ,", &save);
    char* stopText = strtok_r(nullptr, " ,", &save);

    // An empty string names no port: the missing keyword ends the run below, but the
    // device is not opened first.
    if (!port) Str2Value(nullptr, nullptr, kComDataBits);
    ComOpen(port);  // open from here on: the clean-up at exit restores it even after a bad field
    if (!baudText) Str2Value(nullptr, nullptr, kComDataBits);
    uint32_t baud = static_cast<uint32_t>(atoi(baudText));
    int dataBits = 8, parity = 0, stopBits = 0;
    if (!Str2Value(dataText, &dataBits, kComDataBits)) MsgPrint(MSG_ERROR, "Invalid byte length requested.");
    if (!Str2Value(parityText, &parity, kComParity)) MsgPrint(MSG_ERROR, "Invalid parity requested.");
    if (!Str2Value(stopText, &stopBits, kComStopBits)) MsgPrint(MSG_ERROR, "Invalid number of stop bits requested.");

    ComSetParams(baud, dataBits, parity, stopBits);
    g_opened = connection;
    return true;
}

const char* OpenedConnection() { return ComIsOpen() ? g_opened.c_str() : ""; }

void CloseInterfaceCom() {
    if (ComIsOpen()) ComClose();
}
