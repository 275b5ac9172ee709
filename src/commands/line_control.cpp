// RESETTIME, ISPHOLDTIME, RESETCTRL, PGMENCTRL, REQISP and CP210XTEST.
#include <cstdlib>
#include <cstring>

#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "drivers/registry.hpp"
#include "platform/process.hpp"
#include "serial/line_control.hpp"

namespace {
// "%i" of scanf: decimal, 0x hexadecimal or 0 octal; text that is no number reads 0.
int32_t ReadInteger(const char* value) { return static_cast<int32_t>(strtol(value, nullptr, 0)); }
}  // namespace

void CmdResetTime(const char* value) { SetResetTimeMs(ReadInteger(value)); }
void CmdIspHoldTime(const char* value) { SetIspHoldTimeMs(ReadInteger(value)); }
void CmdResetCtrl(const char* value) { ResetLineConfigure(value); }
void CmdPgmEnCtrl(const char* value) { PgmEnLineConfigure(value); }

// GPIO 0 driven low: a quick check that the bridge's pins answer.
void CmdCp210xTest(const char*) { Cp210xLatchSet(0x00, 0x01); }

// Sends the ISP request at once through the selected driver: it asks the running
// application to enter its programming mode. The LPC drivers send it through the
// LPC2000_IAP protocol, which knows the application's framing (the registry says
// which driver sends it).
void CmdReqIsp(const char* value) {
    IspRequestParse(value);
    SetIspRequestPending(true);

    // The whole connection string: device paths under /dev/serial/by-id/ are long.
    char connection[kConnectionStringSize];
    strcpy(connection, ConnectionString());
    char key[kConnectKeySize];
    strcpy(key, ConnectKey());
    char info[kDriverInfoSize] = "";

    const DriverRow* row = CurrentDriverRow();
    const bool through = row && row->ispRequestBy;
    const DriverDescriptor& driver = through ? DriverNamed(row->ispRequestBy) : CurrentDriver();
    DevOpenInterface(driver, connection);
    bool answered = DevConnect(driver, key, info);
    SleepMs(50);
    if (!through && answered) IspRequestClear();
    DevCloseInterface(driver, 0);
}
