// The driver interface: one static descriptor per bootloader protocol, with its
// block parameters and eight operation slots, and the selection of the current one.
#pragma once

#include <cstdint>

constexpr unsigned kDriverInfoSize = 256;  // device text DevConnect may leave

struct DriverDescriptor {
    int32_t classCode;       // plain data: nothing reads it
    int32_t blockSize;       // WRITE aligns and cuts the image to this size
    int32_t lengthMultiple;  // WRITE pads blocks with 0xFF to a multiple of this; 0: none
    const char* options;     // text after the driver name in DRIVER
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
extern DriverDescriptor g_drvLpc2000Iap;
extern DriverDescriptor g_drvLpc2000Isp;
extern DriverDescriptor g_drvModbus;
extern DriverDescriptor g_drvMecIap;
extern DriverDescriptor g_drvGenIap;
extern DriverDescriptor g_drvMicExtmem;
extern DriverDescriptor g_drvMsp430Bsl;

// The current driver; the empty descriptor until DRIVER selects one. Its operations
// say "Use --driver switch to select driver." (an ERROR), but close succeeds silently.
DriverDescriptor& CurrentDriver();
int CurrentDriverNumber();
const char* CurrentDriverName();  // "" while none is selected

// Set when LPC2000_ISP is selected: the next WRITE prepares the image for the LPC
// boot ROM (vector checksum, vector block last) and clears it.
bool LpcPrepareCodePending();
void SetLpcPrepareCodePending(bool pending);

// The DRIVER and DRVLIST commands.
void CmdDriver(const char* value);
void CmdDrvList(const char* value);

// Operations for descriptors of drivers that are not built yet.
bool DriverNotAvailableOpen(const char*);
bool DriverNotAvailableClose(int);
bool DriverNotAvailableConnect(const char*, char*);
bool DriverNotAvailableOp();
bool DriverNotAvailableWrite(uint32_t, const uint8_t*, uint32_t);
