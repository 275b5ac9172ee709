// Target code the LPC boot-ROM driver loads into a part's RAM: the three programming
// routines of fast mode (and two larger ones that take packed blocks), each starting with the parameter block the host patches before
// loading it, and the watchdog-reset routine of EXEC WDTRES. The arrays are generated
// from the sources in target/lpc_routines by its build.sh.
#pragma once

#include <cstddef>
#include <cstdint>

// ARM7 routine for LPC2132/LPC2134 with a 10 MHz crystal (PLL multiplier from the
// parameter block, no fractional divider).
extern const uint8_t kLpcRoutineArm7Lpc213x[1896];
// ARM7 routine for LPC2364/2366/2378/2388/2478 (48 MHz peripheral clock, fractional
// baud divider).
extern const uint8_t kLpcRoutineArm7Lpc23xx[1844];
// Thumb-2 routine for LPC1752/1756/1766/1768.
extern const uint8_t kLpcRoutineCortexM3[1352];
// The routines of --compress for the same parts: they take packed blocks through a ring
// in RAM that the host names (Thumb code behind an ARM entry on the ARM7).
extern const uint8_t kLpcRoutineArm7Lpc23xxPacked[2336];
extern const uint8_t kLpcRoutineCortexM3Packed[2208];
// ARM code loaded at 0x400002F0 that makes an LPC2xxx reset itself through its watchdog.
extern const uint8_t kLpcWatchdogReset[56];
