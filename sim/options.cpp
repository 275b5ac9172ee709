#include "options.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "protocol.hpp"
#include "text.hpp"

namespace {

constexpr uint32_t kMaxMemory = 256u << 20;
constexpr size_t kMaxSectors = 65536;
constexpr uint8_t kDefaultWrongByte = 0x15;  // what --corrupt-ack sends without a refusal byte

// The old acknowledge lists: "3", "2-4", "W:1", "W:1-3", comma-separated, as fault items
// of `kind` (counted over all replies, or over the replies for one command letter).
bool ParseAckList(const std::string& text, FaultKind kind, std::vector<FaultItem>& items) {
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        FaultItem f;
        f.kind = kind;
        if (item.size() >= 2 && item[1] == ':') {
            f.key = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(item[0]))));
            item = item.substr(2);
        }
        size_t dash = item.find('-');
        if (!ParseU32(item.substr(0, dash), f.first) || f.first == 0) return false;
        f.last = f.first;
        if (dash != std::string::npos && (!ParseU32(item.substr(dash + 1), f.last) || f.last < f.first)) return false;
        items.push_back(f);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

// "8x4K,14x32K,6x4K": counts times sizes; an item without a count is one sector.
bool ParseSectors(const std::string& text, std::vector<uint32_t>& sizes) {
    sizes.clear();
    uint64_t total = 0;
    std::stringstream items(text);
    for (std::string item; std::getline(items, item, ',');) {
        uint32_t count = 1, size = 0;
        size_t x = item.find_first_of("xX");
        if (x == 1 && item[0] == '0') x = item.find_first_of("xX", 2);  // "0x1000" is a size
        if (x != std::string::npos && (!ParseU32(item.substr(0, x), count) || count == 0)) return false;
        if (!ParseU32(item.substr(x == std::string::npos ? 0 : x + 1), size, kMaxMemory) || size == 0) return false;
        total += uint64_t{count} * size;
        if (total > kMaxMemory || sizes.size() + count > kMaxSectors) return false;
        sizes.insert(sizes.end(), count, size);
    }
    return !sizes.empty();
}

bool HasKey(const char* keys, const std::string& key) {
    std::istringstream list(keys ? keys : "");
    for (std::string k; list >> k;)
        if (k == key) return true;
    return false;
}

using Parse = bool (*)(SimOptions& o, const std::string& value, std::string& what);

struct GenericOption {
    const char* section;
    const char* name;
    const char* alias;  // a short form, "-v"
    const char* value;  // nullptr: a flag
    const char* help;   // nullptr: made from the protocol table
    Parse parse;
};

const GenericOption kGenericOptions[] = {
    {"Target", "--protocol", nullptr, "NAME", nullptr,
     // Chosen before all other options (ParseOptions); here it is only checked.
     [](SimOptions&, const std::string& v, std::string& what) {
         what = "unknown protocol";
         return FindProtocol(v) != nullptr;
     }},
    {"Target", "--link", nullptr, "PATH", "also make PATH a symbolic link to the terminal",
     [](SimOptions& o, const std::string& v, std::string&) {
         o.link = v;
         return true;
     }},
    {"Target", "--erase-time", nullptr, "MS", "time an erase takes before its answer (default 0)",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "milliseconds";
         return ParseU32(v, o.eraseTimeMs, 600000);
     }},
    {"Target", "--frame-timeout", nullptr, "MS",
     "a pause this long inside a request drops the partial\nrequest, as a receive timer would (default 1000)",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "milliseconds";
         return ParseU32(v, o.frameTimeoutMs, 600000) && o.frameTimeoutMs > 0;
     }},

    {"Memory", "--flash-base", nullptr, "ADDR", "first flash address (default 0)",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "a 32-bit address";
         return ParseU32(v, o.flashBase);
     }},
    {"Memory", "--flash-size", nullptr, "N", "flash size, K and M suffixes allowed (default 1M, or\nwhat --sectors add up to)",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "1 byte to 256M";
         return ParseU32(v, o.flashSize, kMaxMemory) && o.flashSize > 0;
     }},
    {"Memory", "--sectors", nullptr, "LAYOUT",
     "the flash's sectors from its base: COUNTxSIZE items,\ncomma-separated, e.g. 8x4K,14x32K,6x4K (default: 4K\nsectors)",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "COUNTxSIZE items, at most 65536 sectors and 256M";
         return ParseSectors(v, o.sectorSizes);
     }},
    {"Memory", "--ram", nullptr, "BASE,SIZE", "a RAM region: writes replace bytes, it is never erased,\nit reads 00 at the start (default: no RAM)",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "a base address and a size up to 256M";
         size_t comma = v.find(',');
         return comma != std::string::npos && ParseU32(v.substr(0, comma), o.ramBase) &&
                ParseU32(v.substr(comma + 1), o.ramSize, kMaxMemory) && o.ramSize > 0;
     }},
    {"Memory", "--overwrite", nullptr, nullptr,
     "flash writes replace memory; default: programming may\nonly clear bits, so writing over unerased memory is\nrefused",
     [](SimOptions& o, const std::string&, std::string&) { return o.overwrite = true; }},

    {"Line", "--baud", nullptr, "RATE",
     "the target's own rate; the host must use it, bytes at\nanother rate are lost. Default: follow the host's rate\nuntil the protocol fixes one.",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "a baud rate";
         return ParseU32(v, o.baud) && o.baud >= 50;
     }},
    {"Line", "--line", nullptr, "FORMAT",
     "the target's UART frame: data bits 5-8, parity N E O M\nS, stop bits 1, 1.5 or 2, e.g. 8E1 (default 8N1). Each\n"
     "byte takes its bit times in the line model; a host\nwith other stop bits is not understood. Data bits and\n"
     "parity are not visible on a pseudo-terminal: not\nchecked.",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "data bits 5-8, parity N E O M S, stop bits 1, 1.5 or 2, as 8N1";
         LineFormat format;
         if (!ParseLineFormat(v, format)) return false;
         o.line = format;
         return true;
     }},
    {"Line", "--line-model", nullptr, nullptr,
     "delay every byte by its bit times at the terminal's\nrate, both ways (default when --baud is given)",
     [](SimOptions& o, const std::string&, std::string&) {
         o.lineModel = 1;
         return true;
     }},
    {"Line", "--no-line-model", nullptr, nullptr, "answer at once",
     [](SimOptions& o, const std::string&, std::string&) {
         o.lineModel = 0;
         return true;
     }},

    {"Faults", "--fault", nullptr, "PLAN",
     "items KIND[:ARG]@KEY[#N[-M]] or KIND[:ARG]@KEY#N-,\nseparated by ';'. KIND: drop; corrupt[:HEX] (first byte\n"
     "replaced, default: its complement); dup (sent twice);\nlate[:MS] (sent MS later, default 6000); short (last\n"
     "byte missing); nak (the request is refused and not\ncarried out). KEY: a reply key of the protocol (see\n"
     "below) or * for any reply; #N counts the replies for\nthat key from 1, refusals included; no #N: all of\n"
     "them. Repeatable.",
     [](SimOptions& o, const std::string& v, std::string& what) {
         size_t before = o.faults.size();
         if (!ParseFaultPlan(v, o.faults, what)) return false;
         for (size_t i = before; i < o.faults.size(); ++i) {
             const std::string& key = o.faults[i].key;
             if (key != "*" && !HasKey(o.protocol->faultKeys, key)) {
                 what = "no reply key '" + key + "' in " + o.protocol->name + ", keys: " + o.protocol->faultKeys;
                 return false;
             }
         }
         return true;
     }},
    {"Faults", "--drop-ack", nullptr, "LIST",
     "drop these replies; LIST items: N, N-M (counted over\nall replies, from 1) or C:N, C:N-M (counted for key C\n"
     "only), comma-separated; drop@*#N, drop@C#N in a plan",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "list of N, N-M, C:N or C:N-M, counted from 1";
         return ParseAckList(v, FaultKind::Drop, o.faults);
     }},
    {"Faults", "--corrupt-ack", nullptr, "LIST", "send these replies with the first byte replaced by the\n--nak byte (default 15)",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "list of N, N-M, C:N or C:N-M, counted from 1";
         size_t before = o.faults.size();
         if (!ParseAckList(v, FaultKind::Corrupt, o.faults)) return false;
         for (size_t i = before; i < o.faults.size(); ++i) o.faults[i].refusalByte = true;
         return true;
     }},
    {"Faults", "--no-ack-after", nullptr, "N", "send no reply after the first N (drop@*#N+1-)",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "a count";
         FaultItem f;
         if (!ParseU32(v, f.first, 0xFFFFFFFEu)) return false;
         ++f.first;
         o.faults.push_back(f);
         return true;
     }},
    {"Faults", "--silent", nullptr, nullptr, "never answer anything (drop@*)",
     [](SimOptions& o, const std::string&, std::string&) {
         o.faults.push_back(FaultItem{});
         return true;
     }},
    {"Faults", "--fail-erase", nullptr, nullptr, "refuse the erase (nak@E)",
     [](SimOptions& o, const std::string&, std::string&) {
         FaultItem f;
         f.kind = FaultKind::Nak;
         f.key = "E";
         o.faults.push_back(f);
         return true;
     }},

    {"Run", "--load", nullptr, "FILE", "at the start the memory holds this Intel HEX file's\ndata, as if programmed before",
     [](SimOptions& o, const std::string& v, std::string&) {
         o.load = v;
         return true;
     }},
    {"Run", "--dump", nullptr, "FILE", "at the end write the flash ranges written since their\nerase as Intel HEX",
     [](SimOptions& o, const std::string& v, std::string&) {
         o.dumpHex = v;
         return true;
     }},
    {"Run", "--dump-bin", nullptr, "FILE", "at the end write flash base .. last written byte as\nbinary",
     [](SimOptions& o, const std::string& v, std::string&) {
         o.dumpBin = v;
         return true;
     }},
    {"Run", "--log", nullptr, "FILE", "log the wire traffic with times, directions and notes",
     [](SimOptions& o, const std::string& v, std::string&) {
         o.logPath = v;
         return true;
     }},
    {"Run", "--verbose", "-v", nullptr, "print the notes on standard error too",
     [](SimOptions& o, const std::string&, std::string&) { return o.verbose = true; }},
    {"Run", "--exit-after-exec", nullptr, nullptr, "end after answering the start of code",
     [](SimOptions& o, const std::string&, std::string&) { return o.exitAfterExec = true; }},
    {"Run", "--timeout", nullptr, "SECONDS", "end after this long without traffic (exit code 2)",
     [](SimOptions& o, const std::string& v, std::string& what) {
         what = "seconds";
         char* end = nullptr;
         o.timeoutSeconds = std::strtod(v.c_str(), &end);
         return !*end && o.timeoutSeconds >= 0;
     }},
    // Taken by main() before the options are parsed: listed here for the help text.
    {"Run", "--count", nullptr, "N", "start N targets (1-64), one process each, and print\ntheir terminals' paths in order; in file names %n is the\ntarget's number, else -N goes before the extension",
     [](SimOptions&, const std::string&, std::string&) { return true; }},
    {"Run", "--target", nullptr, "K", "with --count: the options behind it are target K's only",
     [](SimOptions&, const std::string&, std::string&) { return true; }},
    {"Run", "--help", "-h", nullptr, "this text", nullptr},
};

const GenericOption* FindGeneric(const std::string& name) {
    for (const GenericOption& option : kGenericOptions)
        if (name == option.name || (option.alias && name == option.alias)) return &option;
    return nullptr;
}

const ProtocolOption* FindProtocolOption(const ProtocolEntry& entry, const std::string& name) {
    for (const ProtocolOption& option : entry.options)
        if (name == option.name) return &option;
    return nullptr;
}

// Resolves what needs all options: the memory layout, the protocol's own checks, the
// line format and the refusal byte of --corrupt-ack.
bool Finish(SimOptions& o, bool flashSizeGiven, std::string& error) {
    bool memoryGiven = flashSizeGiven || !o.sectorSizes.empty() || o.ramSize || o.flashBase;
    if (!o.settings->SetMemory(o, memoryGiven, error)) return false;
    if (!o.sectorSizes.empty()) {
        uint64_t total = 0;
        for (uint32_t size : o.sectorSizes) total += size;
        if (flashSizeGiven && total != o.flashSize) {
            error = "--sectors add up to " + std::to_string(total) + " bytes, --flash-size is " +
                    std::to_string(o.flashSize);
            return false;
        }
        o.flashSize = static_cast<uint32_t>(total);
    }
    uint64_t flashEnd = uint64_t{o.flashBase} + o.flashSize;
    if (flashEnd > 0x100000000ull) {
        error = "the flash runs past the end of the 32-bit address space";
        return false;
    }
    uint64_t ramEnd = uint64_t{o.ramBase} + o.ramSize;
    if (o.ramSize && ramEnd > 0x100000000ull) {
        error = "the RAM runs past the end of the 32-bit address space";
        return false;
    }
    if (o.ramSize && o.ramBase < flashEnd && ramEnd > o.flashBase) {
        error = "the RAM overlaps the flash";
        return false;
    }
    if (!o.settings->Check(error)) return false;
    if (!o.line && o.protocol->line) {
        LineFormat format;
        ParseLineFormat(o.protocol->line, format);
        o.line = format;
    }
    for (FaultItem& f : o.faults) {
        if (!f.refusalByte) continue;
        f.arg = o.settings->RefusalByte().value_or(kDefaultWrongByte);
        f.hasArg = true;
    }
    return true;
}

void AppendRow(std::string& out, const std::string& left, const std::string& help) {
    constexpr size_t kColumn = 25;
    std::string line = "  " + left;
    std::istringstream lines(help);
    bool first = true;
    for (std::string text; std::getline(lines, text);) {
        if (!first || line.size() + 1 > kColumn) {
            out += line + "\n";
            line.clear();
        }
        line.resize(kColumn, ' ');
        line += text;
        first = false;
    }
    out += line + "\n";
}

std::string Left(const char* name, const char* alias, const char* value) {
    std::string left = name;
    if (value) left += std::string("=") + value;
    if (alias) left += std::string(", ") + alias;
    return left;
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv, SimOptions& o, std::string& error) {
    // The protocol decides which protocol options exist, wherever --protocol stands.
    o.protocol = &GenIapProtocol();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--protocol=", 0) == 0 && FindProtocol(arg.substr(11))) o.protocol = FindProtocol(arg.substr(11));
    }
    const ProtocolEntry& protocol = *o.protocol;
    o.settings = protocol.settings();

    bool flashSizeGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        size_t eq = arg.find('=');
        std::string name = arg.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        bool hasValue = eq != std::string::npos;
        if (name == "--help" || name == "-h") return ParseResult::Help;

        const GenericOption* generic = FindGeneric(name);
        const ProtocolOption* own = generic ? nullptr : FindProtocolOption(protocol, name);
        if (!generic && !own) {
            for (const ProtocolEntry* other : ProtocolTable()) {
                if (FindProtocolOption(*other, name)) {
                    error = name + " is an option of " + other->name + ", not of " + protocol.name;
                    return ParseResult::Error;
                }
            }
            error = "unknown option: " + arg;
            return ParseResult::Error;
        }
        const char* valueHint = generic ? generic->value : own->value;
        if (!valueHint && hasValue) {
            error = name + " takes no value";
            return ParseResult::Error;
        }
        if (valueHint && !hasValue) {
            error = "missing value: " + name + "=" + valueHint;
            return ParseResult::Error;
        }
        std::string what = "empty";
        bool ok = !(valueHint && value.empty()) &&
                  (generic ? generic->parse(o, value, what) : own->parse(*o.settings, value, what));
        if (!ok) {
            error = "bad value for " + name + ": '" + value + "' (" + what + ")";
            return ParseResult::Error;
        }
        if (name == "--flash-size") flashSizeGiven = true;
    }
    return Finish(o, flashSizeGiven, error) ? ParseResult::Run : ParseResult::Error;
}

std::string HelpText() {
    std::string out =
        "Usage: vorlo-sim [options]\n"
        "\n"
        "Simulates a target with a serial bootloader on a pseudo-terminal. The first line\n"
        "on standard output is the terminal's path; connect to it with\n"
        "  vorlo --connection=<path>,115200,8,N,1 ...\n";
    std::string names;
    for (const ProtocolEntry* entry : ProtocolTable())
        names += std::string(names.empty() ? "" : ", ") + entry->name + (entry == &GenIapProtocol() ? " (default)" : "");
    const char* section = "";
    for (const GenericOption& option : kGenericOptions) {
        if (std::strcmp(section, option.section) != 0) {
            section = option.section;
            out += std::string("\n") + section + ":\n";
        }
        std::string help = option.help ? option.help : "the target's bootloader: " + names;
        AppendRow(out, Left(option.name, option.alias, option.value), help);
    }
    for (const ProtocolEntry* entry : ProtocolTable()) {
        out += std::string("\nProtocol ") + entry->name + ":\n";
        std::istringstream description(entry->description);
        for (std::string line; std::getline(description, line);) out += "  " + line + "\n";
        AppendRow(out, "reply keys:", entry->faultKeys);
        if (entry->line) AppendRow(out, "line:", entry->line);
        for (const ProtocolOption& option : entry->options)
            AppendRow(out, Left(option.name, nullptr, option.value), option.help);
    }
    out += "\nEnds on SIGTERM or SIGINT (exit code 0) and writes the dumps on every end.\n";
    return out;
}
