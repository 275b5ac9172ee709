#include "frontend/completion.hpp"

#include <vector>

#include "base/text.hpp"
#include "commands/dispatcher.hpp"
#include "drivers/registry.hpp"
#include "frontend/command_file.hpp"
#include "frontend/help_topics.hpp"
#include "image/code_formats.hpp"

namespace {
std::vector<std::string> Commands() {
    std::vector<std::string> words;
    for (const std::string& option : FrameworkOptionWords()) words.push_back("--" + option);
    for (const CommandEntry* c = g_commandTable; c->name; ++c)
        words.push_back("--" + LowerCase(c->name) + (c->value == WITH_VALUE ? "=" : ""));
    return words;
}

// A driver takes options when the help screen's usage line shows them behind its name
// ("  modbus,mb_slave_num", "  lpc2000_isp[[,xtal],baudrate]").
std::vector<std::string> Drivers() {
    std::vector<std::string> words;
    for (const DriverRow* d = DriverRows(); d->keyword; ++d) {
        const std::string name = LowerCase(d->keyword);
        const std::string usage = "  " + name;
        const bool options = std::string(d->help).compare(0, usage.size(), usage) == 0 &&
                             (d->help[usage.size()] == ',' || d->help[usage.size()] == '[');
        words.push_back(options ? name + "," : name);
    }
    return words;
}

std::vector<std::string> Formats() {
    std::vector<std::string> words;
    for (const CodeFileFormat& f : CodeFileFormats())
        if (f.keyword) words.push_back(f.keyword);
    return words;
}
}  // namespace

bool WriteCompletionWords(FILE* out, const std::string& what) {
    const std::string list = LowerCase(what);
    std::vector<std::string> words;
    if (list == "commands")
        words = Commands();
    else if (list == "drivers")
        words = Drivers();
    else if (list == "formats")
        words = Formats();
    else if (list == "topics")
        words = HelpTopicWords();
    else
        return false;
    for (const std::string& w : words) fprintf(out, "%s\n", w.c_str());
    fflush(out);
    return true;
}
