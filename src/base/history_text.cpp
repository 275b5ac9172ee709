#include <cstdio>

#include "base/version_info.hpp"

namespace {
// Vorlo's revision history, oldest entry first. Each entry: an empty line, the
// version (minor part of two digits), the date and the author's initials, a rule
// of 73 '-', and one line per change.
const char kHistory[] =
    "\n"
    "   0.06 08.12.2026 KT\n"
    "  -------------------------------------------------------------------------\n"
    "   - Command-line framework: options become lines of a temporary command\n"
    "     file that is run in order; nested command files, debug and verbose\n"
    "     output, debug log, output redirection, silent mode.\n"
    "   - Command table with the connection, key and time-out settings, ECHO,\n"
    "     SLEEP and EXIT; driver selection with DRIVER and DRVLIST.\n"
    "   - Help screen, version banner and this history.\n"
    "\n"
    "   0.07 08.12.2026 KT\n"
    "  -------------------------------------------------------------------------\n"
    "   - Code image with sorting, compaction, block alignment and splitting.\n"
    "   - Intel HEX, S-record, MOTBREC and binary readers and writers, the XML\n"
    "     firmware container reader, format detection, CODEINFO and DRIVERBIN.\n"
    "   - Intel HEX export above 1 MiB with extended linear address records.\n"
    "\n"
    "   0.08 08.12.2026 KT\n"
    "  -------------------------------------------------------------------------\n"
    "   - Serial ports on termios with any baud rate, exclusive open and\n"
    "     restore on close; PORTLIST, LOOPTEST.\n"
    "   - AUTO port search with the remembered port.\n"
    "   - Reset and programming-enable lines on DTR, RTS and CP2103 GPIO pins.\n"
    "\n"
    "   0.09 08.12.2026 KT\n"
    "  -------------------------------------------------------------------------\n"
    "   - WRITE, ERASE, EXEC and DISCONNECT with connect countdown and\n"
    "     progress bar.\n"
    "   - GEN_IAP and MIC_EXTMEM drivers; vorlo-sim target simulator.\n"
    "\n"
    "   0.10 08.12.2026 KT\n"
    "  -------------------------------------------------------------------------\n"
    "   - Daemon mode: TCP command server with STAT:, CMD:, KILL: and QUIT:,\n"
    "     queued commands and the write progress in the BUSY answer.\n"
    "\n"
    "   0.11 08.12.2026 KT\n"
    "  -------------------------------------------------------------------------\n"
    "   - Drivers LPC2000_ISP (67 parts, fast mode with RAM routines),\n"
    "     MSP430BSL, MODBUS, LPC2000_IAP and MEC_IAP.\n"
    "   - Stale answers are thrown away before every request; rate changes\n"
    "     keep the line format and the modem lines; device paths of up to\n"
    "     255 characters; open failures say why.\n"
    "   - Intel HEX checksums verified; a last line without line end is read.\n"
    "\n"
    "   0.12 09.12.2026 KT\n"
    "  -------------------------------------------------------------------------\n"
    "   - Driver registry and run context; a driver is one file and one row.\n"
    "   - READ, VERIFY, BLANKCHECK and DEVICEINFO through the LPC boot ROM,\n"
    "     the fast-mode routines and the MSP430 BSL.\n"
    "   - Errors say why: bad baud rates, the ports tried, the block and the\n"
    "     target's reason, the line of a damaged file; plain progress.\n"
    "   - Daemon: RESULT:, persistent mode, shared secret, LF line ends.\n"
    "   - ELF input; install rules, Debian package, man pages, help topics\n"
    "     and bash completion.\n"
    "\n"
    "   0.13 09.12.2026 KT\n"
    "  -------------------------------------------------------------------------\n"
    "   - Commands that only look never send an MSP430 BSL password that may\n"
    "     be wrong (--bslpassword); LPC images that lock the boot loader out\n"
    "     need --allowlock.\n"
    "   - Platform services behind small interfaces; a Windows build.\n"
    "   - --compress, fast-mode rates past the tables, --update.\n"
    "   - rfc2217:// and socket:// ports behind network serial servers.\n"
    "   - Quicker start: libraries loaded when first needed.\n";
}  // namespace

const char* HistoryText() { return kHistory; }

void PrintHistory() {
    fputs(kHistory, stdout);
    fflush(stdout);
}
