// Command-line settings of the target simulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One entry of an acknowledge fault list: the Nth acknowledge (first..last, 1-based),
// counted over all commands, or over one command letter only.
struct AckSelector {
    char command = 0;  // 0: count every acknowledge
    uint32_t first = 0;
    uint32_t last = 0;
};

struct SimOptions {
    std::string protocol = "gen_iap";
    std::string link;      // symlink to the slave side
    std::string dumpHex;   // Intel HEX of the written ranges, written at the end
    std::string dumpBin;   // raw image from the flash base to the last written byte
    std::string logPath;   // wire traffic log

    uint32_t flashBase = 0;
    uint32_t flashSize = 1u << 20;
    bool overwrite = false;  // true: writes replace cells like RAM, no erase check

    uint32_t blockSize = 256;               // announced in the info reply
    std::vector<uint8_t> infoPrefix{0, 0};  // the two free bytes of the info reply
    std::optional<uint8_t> nak;             // answer to refused commands; none: silence
    std::vector<uint8_t> syncAnswer;        // replaces the acknowledge of 'C' when set
    std::vector<uint8_t> ispRequest;        // application waits for these bytes
    std::vector<uint8_t> ispResponse;       // ... and answers with these
    std::vector<uint8_t> entryAnswer{0xA2, 0x05, 0x0B};  // MIC_EXTMEM entry answer, as on the wire

    uint32_t baud = 0;        // the target's own line rate; 0: it follows the host's
    int lineModel = -1;       // -1: on when --baud is given; 0 off; 1 on
    uint32_t maxBaud = 0;     // highest rate 'R' switches to; 0: any
    uint32_t baudAnswerBytes = 4;  // bytes of the 'R' answer actually sent

    std::vector<AckSelector> dropAck;
    std::vector<AckSelector> corruptAck;
    std::optional<uint32_t> noAckAfter;
    bool silent = false;
    bool failErase = false;

    bool exitAfterExec = false;
    double timeoutSeconds = 0;     // end after this long without traffic; 0: never
    uint32_t eraseTimeMs = 0;      // time the target takes to erase
    uint32_t frameTimeoutMs = 1000;  // a pause this long inside a frame drops the frame
    bool verbose = false;            // notes also on standard error
};

enum class ParseResult { Run, Help, Error };

// Parses argv; on Error, `error` holds the text to show.
ParseResult ParseOptions(int argc, char** argv, SimOptions& options, std::string& error);

const char* HelpText();
