// DRIVER and DRVLIST: the selection of the current driver from the registry.
#include <string>

#include "base/messages.hpp"
#include "base/text.hpp"
#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "drivers/registry.hpp"

void CmdDriver(const char* value) {
    std::string text = UpperCase(value);

    // The name is the first token at blanks and commas; the option text is what follows
    // its separator, up to the next blank. An option text is kept even when the name
    // matches no driver; without one, the earlier text stays.
    size_t start = text.find_first_not_of(" ,");
    if (start == std::string::npos) return;
    size_t end = text.find_first_of(" ,", start);
    std::string name = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end != std::string::npos) {
        size_t optStart = text.find_first_not_of(' ', end + 1);
        if (optStart != std::string::npos) {
            size_t optEnd = text.find(' ', optStart);
            SetDriverOptions(text.substr(optStart, optEnd == std::string::npos ? std::string::npos : optEnd - optStart).c_str());
        }
    }
    // An unknown name changes nothing and says nothing here; a failure it leads to says it.
    if (const DriverRow* row = DriverFind(name)) {
        DriverSelect(*row->descriptor, nullptr);
        Run().unknownDriver[0] = '\0';
    } else {
        CopyCut(Run().unknownDriver, sizeof Run().unknownDriver, name.c_str());
    }
}

void CmdDrvList(const char*) {
    MsgPrint(MSG_PLAIN, "Available drivers");
    const std::vector<std::string> lines = SplitFields(DriverListText(), '\n');
    for (size_t i = 0; i + 1 < lines.size(); ++i) MsgPrint(MSG_PLAIN, "%s", lines[i].c_str());
}
