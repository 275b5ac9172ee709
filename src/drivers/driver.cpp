#include "drivers/driver.hpp"

#include <cstring>
#include <map>
#include <string>

#include "cli/messages.hpp"
#include "cli/text.hpp"
#include "commands/dispatcher.hpp"
#include "serial/serial_port.hpp"

namespace {
constexpr size_t kOptionsSize = 256;
char g_options[kOptionsSize] = "";

[[noreturn]] void NoDriverSelected() { MsgError("Use --driver switch to select driver."); }
bool NoDriverOpen(const char*) { NoDriverSelected(); }
bool NoDriverClose(int) { return true; }
bool NoDriverConnect(const char*, char*) { NoDriverSelected(); }
bool NoDriverOp() { NoDriverSelected(); }
bool NoDriverWrite(uint32_t, const uint8_t*, uint32_t) { NoDriverSelected(); }

const DriverDescriptor g_noDriver = {0,          16,         0,          NoDriverOpen, NoDriverClose, NoDriverConnect,
                                     NoDriverOp, NoDriverOp, NoDriverOp, NoDriverWrite, NoDriverOp};

struct DriverEntry {
    const char* keyword;
    DriverNumber number;
    const DriverDescriptor* descriptor;
};

// Selection order of the DRIVER keywords.
const DriverEntry kDrivers[] = {
    {"LPC2000_IAP", DRV_LPC2000_IAP, &g_drvLpc2000Iap},
    {"LPC2000_ISP", DRV_LPC2000_ISP, &g_drvLpc2000Isp},
    {"MODBUS", DRV_MODBUS, &g_drvModbus},
    {"MEC_IAP", DRV_MEC_IAP, &g_drvMecIap},
    {"GEN_IAP", DRV_GEN_IAP, &g_drvGenIap},
    {"MIC_EXTMEM", DRV_MIC_EXTMEM, &g_drvMicExtmem},
    {"MSP430BSL", DRV_MSP430BSL, &g_drvMsp430Bsl},
};

const DriverDescriptor* g_current = &g_noDriver;
const DriverEntry* g_currentEntry = nullptr;
bool g_lpcPrepareCode = false;
bool g_handingOver = false;
std::map<const DriverDescriptor*, DriverSession> g_sessions;
}  // namespace

DriverSession& SessionOf(const DriverDescriptor& driver) {
    auto it = g_sessions.find(&driver);
    if (it == g_sessions.end()) it = g_sessions.emplace(&driver, DriverSession{driver.blockSize, driver.lengthMultiple, ""}).first;
    return it->second;
}

const DriverDescriptor& CurrentDriver() { return *g_current; }
DriverSession& CurrentSession() { return SessionOf(*g_current); }
int CurrentDriverNumber() { return g_currentEntry ? g_currentEntry->number : DRV_NONE; }
const char* CurrentDriverName() { return g_currentEntry ? g_currentEntry->keyword : ""; }

bool LpcPrepareCodePending() { return g_lpcPrepareCode; }
void SetLpcPrepareCodePending(bool pending) { g_lpcPrepareCode = pending; }

void CmdDriver(const char* value) {
    std::string text = UpperCase(value);

    // The name is the first token at blanks and commas; the option text is what follows
    // its separator, up to the next blank.
    size_t start = text.find_first_not_of(" ,");
    if (start == std::string::npos) return;
    size_t end = text.find_first_of(" ,", start);
    std::string name = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end != std::string::npos) {
        size_t optStart = text.find_first_not_of(' ', end + 1);
        if (optStart != std::string::npos) {
            size_t optEnd = text.find(' ', optStart);
            std::string option = text.substr(optStart, optEnd == std::string::npos ? std::string::npos : optEnd - optStart);
            size_t n = option.size() < kOptionsSize - 1 ? option.size() : kOptionsSize - 1;
            memcpy(g_options, option.data(), n);
            g_options[n] = '\0';
        }
    }

    for (const DriverEntry& entry : kDrivers) {
        if (name != entry.keyword) continue;
        // Read time-outs one driver left in force are not the next one's business.
        if (g_current != entry.descriptor) ComResetReadTimeouts();
        g_current = entry.descriptor;
        SessionOf(*g_current).options = g_options;
        g_currentEntry = &entry;
        if (entry.number == DRV_LPC2000_ISP)
            g_lpcPrepareCode = true;
        else if (!g_handingOver)
            g_lpcPrepareCode = false;
        return;
    }
    // An unknown name changes nothing and says nothing.
}

void SetDriverOptionText(const char* text) { CopyCut(g_options, sizeof g_options, text ? text : ""); }

void DriverHandOver(const char* commandLine) {
    g_handingOver = true;
    CmdDispatch(commandLine);
    g_handingOver = false;
}

void CmdDrvList(const char*) {
    static const char* const kLines[] = {
        "Available drivers",
        "  MEC_IAP:     MEC in-application programming.",
        "  LPC2000_ISP: NXP LPC2xxx builtin bootloader.",
        "  MODBUS:      Modbus compatible in-circuit programming.",
        "               Forwarding: --driver=modbus,1,3,5",
        "  GEN_IAP:     Generic in-circuit programming protocol.",
        "  MIC_EXTMEM:  MIC external flash programming driver.",
        "  MSP430BSL:   MPS430F5xxx/6xxx BSL through serial port.",
    };
    for (const char* line : kLines) MsgPrint(MSG_PLAIN, "%s", line);
}
