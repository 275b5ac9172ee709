#include "drivers/registry.hpp"

#include <cstring>

#include "base/messages.hpp"
#include "drivers/descriptors.hpp"
#include "serial/serial_port.hpp"

// The descriptors, each defined in its driver's own file.

namespace {
const DriverRow kRows[] = {
    {"MEC_IAP", 4, &g_drvMecIap, true, "  MEC_IAP:     MEC in-application programming.\n", ""},
    {"LPC2000_ISP", 2, &g_drvLpc2000Isp, true, "  LPC2000_ISP: NXP LPC2xxx builtin bootloader.\n",
     "  lpc2000_isp[[,xtal],baudrate]\r\n"
     "   - NXP LPC2xxx and LPC1xxx devices using built-in serial port bootloader\r\n"
     "   \r\n"
     "   xtal: external crystal frequency in kHz passed to built-in bootloader.\r\n"
     "         mandatory but don't-care in modern devices that have internal \r\n"
     "         RC-oscilator.\r\n"
     "   baudrate: Baudrate used for high speed program uploading. If specified\r\n"
     "             whole chip is always erased to execute driver code in RAM.\r\n"
     "             Supported baudrates 115200, 153600, 230400, 250000, 256000,\r\n"
     "\t         460800, 500000, 576000, 921600.\r\n"
     "  \r\n",
     "LPC2000_IAP"},
    {"MODBUS", 3, &g_drvModbus, true,
     "  MODBUS:      Modbus compatible in-circuit programming.\n"
     "               Forwarding: --driver=modbus,1,3,5\n",
     "  modbus,mb_slave_num\r\n"
     "   - uses modbus and special bootloader\r\n"
     "\r\n"},
    {"GEN_IAP", 5, &g_drvGenIap, true, "  GEN_IAP:     Generic in-circuit programming protocol.\n", ""},
    {"MIC_EXTMEM", 6, &g_drvMicExtmem, true, "  MIC_EXTMEM:  MIC external flash programming driver.\n", ""},
    {"MSP430BSL", 7, &g_drvMsp430Bsl, true, "  MSP430BSL:   MPS430F5xxx/6xxx BSL through serial port.\n",
     "  MSP430BSL\r\n"
     "   - Texas MPS430F5xxx/6xxx family processor BSL through serial port\r\n"
     "   \r\n"},
    // Reached through its application's channel framing or REQISP; not listed.
    {"LPC2000_IAP", 1, &g_drvLpc2000Iap, false, "", "", "LPC2000_IAP"},
    {nullptr, 0, nullptr, false, "", ""},
};

const DriverRow* RowOf(const DriverDescriptor* driver) {
    for (const DriverRow* row = kRows; row->keyword; ++row)
        if (row->descriptor == driver) return row;
    return nullptr;
}

void Select(const DriverDescriptor& driver, const char* options, bool handingOver) {
    RunContext& run = Run();
    // Read time-outs one driver left in force are not the next one's business.
    if (run.driver != &driver) ComResetReadTimeouts();
    if (options) SetDriverOptions(options);
    run.driver = &driver;
    if (driver.prepareCode)
        run.pendingPreparation = driver.prepareCode;
    else if (!handingOver)
        run.pendingPreparation = nullptr;
    if (driver.checkCode)
        run.pendingCheck = driver.checkCode;
    else if (!handingOver)
        run.pendingCheck = nullptr;
}
}  // namespace

const DriverRow* DriverRows() { return kRows; }

const DriverRow* DriverFind(const std::string& keyword) {
    for (const DriverRow* row = kRows; row->keyword; ++row)
        if (keyword == row->keyword) return row;
    return nullptr;
}

const DriverDescriptor& DriverNamed(const char* keyword) {
    const DriverRow* row = DriverFind(keyword);
    if (!row) MsgPrint(MSG_FATAL, "No driver %s in the driver table.", keyword);
    return *row->descriptor;
}

const DriverDescriptor& CurrentDriver() { return Run().driver ? *Run().driver : NoDriver(); }
DriverSession& CurrentSession() { return SessionOf(CurrentDriver()); }

int CurrentDriverNumber() {
    const DriverRow* row = RowOf(Run().driver);
    return row ? row->number : 0;
}

const char* CurrentDriverName() {
    const DriverRow* row = RowOf(Run().driver);
    return row ? row->keyword : "";
}

void DriverSelect(const DriverDescriptor& driver, const char* options) { Select(driver, options, false); }
void DriverHandOver(const DriverDescriptor& driver, const char* options) { Select(driver, options, true); }

CodePreparation PendingCodePreparation() { return Run().pendingPreparation; }
CodeCheck CurrentCodeCheck() { return Run().pendingCheck; }
void ClearPendingCodePreparation() { Run().pendingPreparation = nullptr; }

const DriverRow* CurrentDriverRow() { return RowOf(Run().driver); }

std::string DriverListText() {
    std::string text;
    for (const DriverRow* row = kRows; row->keyword; ++row)
        if (row->listed) text += row->drvList;
    return text;
}

std::string DriverHelpText() {
    std::string text;
    for (const DriverRow* row = kRows; row->keyword; ++row) text += row->help;
    return text;
}
