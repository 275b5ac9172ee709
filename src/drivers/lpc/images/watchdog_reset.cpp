// Stand-in for the watchdog-reset routine (ARM code run at 0x400002F0), still to come.
#include "drivers/lpc/images/images.hpp"

const uint8_t kLpcWatchdogReset[56] = {};
