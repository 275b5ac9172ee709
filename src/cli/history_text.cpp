#include <cstdio>

#include "cli/version_info.hpp"

namespace {
// Vorlo's revision history, oldest entry first. Each entry: an empty line, the
// version (minor part of two digits), the date and the author's initials, a rule
// of 73 '-', and one line per change.
const char kHistory[] =
    "\n"
    "   0.10 08.12.2026 KT\n"
    "  -------------------------------------------------------------------------\n"
    "   - First release of the command-line framework: options become lines of a\n"
    "     temporary command file that is run in order; nested command files,\n"
    "     debug and verbose output, debug log, output redirection, silent mode.\n"
    "   - Command table with the connection, key and time-out settings, ECHO,\n"
    "     SLEEP and EXIT.\n"
    "   - Driver selection with DRIVER and the driver list of DRVLIST.\n"
    "   - Help screen, version banner and this history.\n";
}  // namespace

const char* HistoryText() { return kHistory; }

void PrintHistory() {
    fputs(kHistory, stdout);
    fflush(stdout);
}
