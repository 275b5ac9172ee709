// The drivers' descriptors, one per bootloader protocol. The registry lists them; a
// driver that hands its line to another one names that one's descriptor.
#pragma once

struct DriverDescriptor;

extern const DriverDescriptor g_drvLpc2000Isp;   // NXP LPC boot ROM
extern const DriverDescriptor g_drvLpc2000Iap;   // an LPC application's programming mode
extern const DriverDescriptor g_drvGenIap;       // the one-letter protocol of a resident routine
extern const DriverDescriptor g_drvMicExtmem;    // external flash behind an application
extern const DriverDescriptor g_drvMecIap;       // an application that drops into the LPC boot ROM
extern const DriverDescriptor g_drvModbus;       // a Modbus RTU bootloader
extern const DriverDescriptor g_drvMsp430Bsl;    // the MSP430 ROM BSL
