// Command-line settings of the target simulator. The generic ones (target, memory, line,
// faults, run) live in SimOptions; each protocol has option rows of its own that parse
// into its own settings (protocol.hpp), and --help is made from both tables.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fault_plan.hpp"
#include "line_format.hpp"

struct ProtocolEntry;
struct SimOptions;

// What a protocol keeps of its options; each protocol derives its own.
struct ProtocolSettings {
    virtual ~ProtocolSettings() = default;
    // Checks that need all options (one option that needs another); false with `error`.
    virtual bool Check(std::string& error) const {
        (void)error;
        return true;
    }
    // A protocol that models a particular chip sets the memory layout from its own
    // options here (the generic memory options are then refused); false with `error`.
    virtual bool SetMemory(SimOptions& options, bool memoryGiven, std::string& error) const {
        (void)options;
        (void)memoryGiven;
        (void)error;
        return true;
    }
    // The rate the target's UART starts at when --baud does not fix one (a target whose
    // firmware sets its own rate); 0: it follows the host's rate until the protocol
    // fixes one.
    virtual uint32_t StartRate() const { return 0; }
    // The single byte the protocol refuses with, if it has one: --corrupt-ack sends it.
    virtual std::optional<uint8_t> RefusalByte() const { return std::nullopt; }
};

struct SimOptions {
    const ProtocolEntry* protocol = nullptr;     // --protocol, gen_iap by default
    std::unique_ptr<ProtocolSettings> settings;  // that protocol's own options
    std::string link;     // symlink to the slave side
    std::string load;     // Intel HEX put into the memory at the start
    std::string dumpHex;  // Intel HEX of the written flash ranges, written at the end
    std::string dumpBin;  // raw flash image from the base to the last written byte
    std::string logPath;  // wire traffic log

    uint32_t flashBase = 0;
    uint32_t flashSize = 1u << 20;
    std::vector<uint32_t> sectorSizes;  // --sectors expanded; empty: 4 KiB sectors
    uint32_t ramBase = 0;
    uint32_t ramSize = 0;    // 0: no RAM
    bool overwrite = false;  // true: flash writes replace cells like RAM, no erase check

    uint32_t baud = 0;                // the target's own line rate; 0: it follows the host's
    int lineModel = -1;               // -1: on when --baud is given; 0 off; 1 on
    std::optional<LineFormat> line;   // --line or the protocol's; none: 8N1, stop bits not checked

    std::vector<FaultItem> faults;  // --fault and the shorthands, in command-line order

    bool exitAfterExec = false;
    double timeoutSeconds = 0;       // end after this long without traffic; 0: never
    uint32_t eraseTimeMs = 0;        // time the target takes to erase
    uint32_t frameTimeoutMs = 1000;  // a pause this long inside a request drops it
    bool verbose = false;            // notes also on standard error

    // Whether bytes take their bit times and the target its work times: --line-model, or
    // --baud without --no-line-model.
    bool LineModelled() const { return lineModel == 1 || (lineModel == -1 && baud != 0); }
    // An erase's time: --erase-time when given, else the target's `typical` one when the
    // line is modelled, else none.
    uint32_t EraseMs(uint32_t typical) const { return eraseTimeMs ? eraseTimeMs : LineModelled() ? typical : 0; }
};

enum class ParseResult { Run, Help, Error };

// Parses argv; on Error, `error` holds the text to show.
ParseResult ParseOptions(int argc, char** argv, SimOptions& options, std::string& error);

std::string HelpText();
