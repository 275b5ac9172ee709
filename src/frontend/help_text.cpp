#include <cstdio>
#include <cstring>
#include <string>

#include "base/text.hpp"
#include "base/version_info.hpp"
#include "frontend/help_topics.hpp"

namespace {
// The help screen. Every line ends with CR LF and the text starts with an empty line.
// Placeholders stand between two '$'; trailing blanks are part of the text.
const char kHelpTemplate[] =
    "\r\n"
    "$APPDESC$ v$VERSION$ $STATE$ / $AUTHOR$\r\n"
    "   $COPYRIGHT$\r\n"
    "\r\n"
    "   --version            : Show program version\r\n"
    "   --help [topic]       : Show help [of selected topic *NOT IMPLM*]\r\n"
    "   --history            : Show revision history\r\n"
    "   --redirout=fname     : Redirect output into file 'fname'\r\n"
    "   --cmdfile=fname      : Read  commands from 'fname'\r\n"
    "   --silent             : No output\r\n"
    "   -d,--debug[=verbose] : Enable debug mode\r\n"
    "   --debuglog=fname     : Open logfile 'fname' for debug info\r\n"
    "   --drvlist            : Get list of available drivers \r\n"
    "   --driver=drv_name[,opt1,...,optN]\r\n"
    "                        : Select driver to use and optional parameters\r\n"
    "   --importcode=fname   : Read code from file 'fname'\r\n"
    "   --exportcode=fname   : Write code into file 'fname'\r\n"
    "   --format=format      : Set code import/export format\r\n"
    "   --connection=params  : Set connection params e.g. COM1,9600,8,N,1\r\n"
    "   --contout=seconds    : Connection timeout in seconds, use only if\r\n"
    "                          default value is not long enough\r\n"
    "   --deviceinfo         : Show device information\r\n"
    "   --seckey=hexstr      : Use 'hexstr' as security key\r\n"
    "   --reqisp[=req[,resp]]: Ask device to enter programming mode\r\n"
    "   --write              : Write code into device\r\n"
    "   --erase              : Erase FLASH memory\r\n"
    "   --read               : Read FLASH memory\r\n"
    "   --exec               : Start executing code in target device\r\n"
    "   --blankcheck         : Check that device is empty \r\n"
    "   --resettime=time     : Sets reset pulse width, unit ms\r\n"
    "                          default 50ms\r\n"
    "   --ispholdtime=time   : Time to hold ISP low after RESET is released\r\n"
    "                          default 50ms, -1 keeps ISP down all programming\r\n"
    "   --resetctrl=method\t: Available metods: CP2103GPIO_x,state where\r\n"
    "                          x=0..3 and state=1|0, DTR,state, RTS,state\r\n"
    "   --pgmenctrl=method\t: Available metods: CP2103GPIO_x,state where\r\n"
    "                          x=0..3 and state=1|0, DTR,state, RTS,state\r\n"
    "   --codeinfo           : Show embedded version information of loaded code\r\n"
    "   --listcode           : List code records\r\n"
    "   --listdata           : Dump data of code records\r\n"
    "   --portlist           : List detected com ports\r\n"
    "      \r\n"
    "   Commands are processed in the order which they are entered in command\r\n"
    "   line or in command file.\r\n"
    "   \r\n"
    "  Drivers\r\n"
    "  -------\r\n"
    "$DRIVERS$"
    "$END$\r\n";
}  // namespace

void WriteHelp(FILE* out, const VersionInfo& info, bool verbose, const char* drivers) {
    for (const char* p = kHelpTemplate; *p; ++p) {
        if (*p != '$') {
            fputc(*p, out);
            continue;
        }
        const char* end = strchr(p + 1, '$');
        if (!end) break;
        std::string name = UpperCase(std::string(p + 1, end - p - 1).substr(0, 127));
        p = end;
        if (name == "VERSION") {
            char number[64];
            FormatVersionNumber(info, number, sizeof number);
            fprintf(out, "%s %s", number, info.state);
        } else if (name == "COPYRIGHT") {
            fputs(info.copyright, out);
        } else if (name == "APPDESC") {
            fputs(info.description, out);
        } else if (name == "AUTHOR") {
            fputs(info.author, out);
        } else if (name == "DRIVERS") {
            fputs(drivers ? drivers : "", out);
        } else if (name == "END" || (name == "VERBOSEHELP" && !verbose)) {
            break;
        }
        // STATE and unknown placeholders print nothing.
    }
    fflush(out);
}

void PrintHelp(bool verbose, const char* drivers) { WriteHelp(stdout, ProgramVersion(), verbose, drivers); }
