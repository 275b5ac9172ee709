// The driver interface: one static descriptor per bootloader protocol, with its
// block parameters and eight operation slots, and the selection of the current one.
//
// How an operation ends:
//   - return false when the caller's own failure text says it all and the caller may
//     try again: DevConnect that got no answer (the connect loop retries until the
//     connection time-out), DevWrite whose block was not taken after the driver's own
//     retries ("Programming failed."), DevErase that was refused ("Erase FAILED.");
//   - end the run with an ERROR (MsgError) when the driver knows better what went wrong
//     than its caller would say, or when going on could program wrong data: an answer
//     that makes no sense, a target that stopped answering in mid-session, a request the
//     target can't do ("Block size >4096 not supported.");
//   - return true only when the target confirmed what was asked.
// A driver never prints "Failed to connect.", "Programming failed." or "Erase FAILED."
// itself. New drivers start from drivers/kit/ (see docs/drivers.md).
#pragma once

#include <cstdint>

constexpr unsigned kDriverInfoSize = 256;  // device text DevConnect may leave

// Static: what a driver is. Nothing here changes while the program runs.
struct DriverDescriptor {
    int32_t classCode;       // plain data: nothing reads it
    int32_t blockSize;       // the block size a session starts with
    int32_t lengthMultiple;  // the length multiple a session starts with; 0: none
    bool (*DevOpenInterface)(const char* connection);
    bool (*DevCloseInterface)(int unused);
    bool (*DevConnect)(const char* key, char* info);
    bool (*DevDisconnect)();
    bool (*DevRead)();
    bool (*DevErase)();
    bool (*DevWrite)(uint32_t address, const uint8_t* data, uint32_t length);
    bool (*DevUserPgmExec)();
};

// Driver numbers as the selection and REQISP know them.
enum DriverNumber {
    DRV_NONE = 0,
    DRV_LPC2000_IAP = 1,
    DRV_LPC2000_ISP = 2,
    DRV_MODBUS = 3,
    DRV_MEC_IAP = 4,
    DRV_GEN_IAP = 5,
    DRV_MIC_EXTMEM = 6,
    DRV_MSP430BSL = 7,
};

// One descriptor per driver, each defined in the driver's own file.
extern const DriverDescriptor g_drvLpc2000Iap;
extern const DriverDescriptor g_drvLpc2000Isp;
extern const DriverDescriptor g_drvModbus;
extern const DriverDescriptor g_drvMecIap;
extern const DriverDescriptor g_drvGenIap;
extern const DriverDescriptor g_drvMicExtmem;
extern const DriverDescriptor g_drvMsp430Bsl;

// Run-time values of a driver, kept apart from its descriptor: they start as the
// descriptor says and a driver changes them as it learns about its target (the block
// size a target announces). They stay for the rest of the run, also when another
// driver was current in between: a driver that hands its open line to another one
// (a boot-ROM driver starting a RAM routine) lets that one's connect fill its own.
struct DriverSession {
    int32_t blockSize;       // WRITE aligns and cuts the image to this size
    int32_t lengthMultiple;  // WRITE pads blocks with 0xFF to a multiple of this; 0: none
    const char* options;     // text after the driver name in DRIVER; "" until selected
};
DriverSession& SessionOf(const DriverDescriptor& driver);

// The current driver; the empty descriptor until DRIVER selects one. Its operations
// say "Use --driver switch to select driver." (an ERROR), but close succeeds silently.
const DriverDescriptor& CurrentDriver();
DriverSession& CurrentSession();
int CurrentDriverNumber();
const char* CurrentDriverName();  // "" while none is selected

// Set when LPC2000_ISP is selected: the next WRITE prepares the image for the LPC
// boot ROM (vector checksum, vector block last) and clears it.
bool LpcPrepareCodePending();
void SetLpcPrepareCodePending(bool pending);

// A driver handing its open line to another one (a boot ROM that started a RAM
// routine speaking another protocol): runs the DRIVER command line through the
// dispatcher, but keeps the LPC code preparation pending for the next WRITE. A DRIVER
// command of the user's that selects another driver than LPC2000_ISP drops it, so that
// no LPC checksum goes into an image meant for another part.
void DriverHandOver(const char* commandLine);

// Puts this text into the options buffer shared by the drivers (a driver that selected
// another one and comes back restores its own options so).
void SetDriverOptionText(const char* text);

// The DRIVER and DRVLIST commands.
void CmdDriver(const char* value);
void CmdDrvList(const char* value);
