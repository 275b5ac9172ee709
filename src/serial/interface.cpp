#include "serial/interface.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/text.hpp"
#include "serial/serial_port.hpp"

namespace {
constexpr const char* kModule = "interface.cpp";
constexpr const char* kExpectedForm =
    "A connection string is PORT,BAUD,DATA,PARITY,STOP, e.g. /dev/ttyUSB0,115200,8,N,1.";

// A field the string lacks: say what the string should look like, then the fatal error
// the keyword lookup gives for a missing keyword.
[[noreturn]] void MissingField() {
    MsgPrint(MSG_NOTE, "%s", kExpectedForm);
    Str2Value(nullptr, nullptr, kComDataBits);
    AppExit(70);  // not reached: the lookup ends the run
}

// A baud rate is a positive decimal number: "abc", "0" or "-5" would set the line to a
// hang-up or to a wrapped-round rate.
bool BaudRateValid(const char* text) {
    if (!*text) return false;
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 0xFFFFFFFFu) return false;
    }
    return value > 0;
}
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

    std::vector<std::string> fields = Tokens(connection, " ,");
    fields.resize(5);
    auto field = [&](size_t i) { return fields[i].empty() ? nullptr : fields[i].data(); };
    const char* port = field(0);
    char* baudText = field(1);
    char* dataText = field(2);
    char* parityText = field(3);
    char* stopText = field(4);

    // An empty string names no port: the missing keyword ends the run below, but the
    // device is not opened first.
    if (!port) MissingField();
    ComOpen(port);  // open from here on: the clean-up at exit restores it even after a bad field
    if (!baudText || !dataText || !parityText || !stopText) MissingField();
    if (!BaudRateValid(baudText)) MsgPrint(MSG_ERROR, "Invalid baud rate requested.");
    uint32_t baud = static_cast<uint32_t>(strtoul(baudText, nullptr, 10));
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
