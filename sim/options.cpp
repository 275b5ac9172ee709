#include "options.hpp"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "protocol.hpp"

namespace {

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || end == text.c_str() || text[0] == '-') return false;
    // Sizes may carry a binary suffix: 64K, 1M.
    if (*end == 'k' || *end == 'K') {
        v <<= 10;
        ++end;
    } else if (*end == 'm' || *end == 'M') {
        v <<= 20;
        ++end;
    }
    if (*end || v > max) return false;
    value = v;
    return true;
}

bool ParseU32(const std::string& text, uint32_t& value, uint64_t max = 0xFFFFFFFFu) {
    uint64_t v = 0;
    if (!ParseNumber(text, max, v)) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// Hexadecimal bytes, optionally separated by blanks, commas or colons: "A2050B", "A2 05 0B".
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == ' ' || c == ',' || c == ':') {
            if (digits.size() % 2) return false;
            continue;
        }
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && digits.size() % 2 == 0) {
            ++i;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

// "3", "2-4", "W:1", "W:1-3", comma-separated.
bool ParseAckList(const std::string& text, std::vector<AckSelector>& list) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        AckSelector s;
        if (item.size() >= 2 && item[1] == ':') {
            s.command = static_cast<char>(std::toupper(static_cast<unsigned char>(item[0])));
            item = item.substr(2);
        }
        size_t dash = item.find('-');
        if (!ParseU32(item.substr(0, dash), s.first) || s.first == 0) return false;
        s.last = s.first;
        if (dash != std::string::npos && (!ParseU32(item.substr(dash + 1), s.last) || s.last < s.first)) return false;
        list.push_back(s);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !list.empty();
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv, SimOptions& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        size_t eq = arg.find('=');
        std::string name = arg.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        bool hasValue = eq != std::string::npos;
        auto bad = [&](const char* what) {
            error = "bad value for " + name + ": '" + value + "' (" + what + ")";
            return ParseResult::Error;
        };
        auto needs = [&]() { return hasValue && !value.empty(); };
        uint32_t u = 0;
        std::vector<uint8_t> bytes;

        if (name == "--help" || name == "-h") return ParseResult::Help;
        // Flags.
        if (!hasValue) {
            if (name == "--overwrite") o.overwrite = true;
            else if (name == "--line-model") o.lineModel = 1;
            else if (name == "--no-line-model") o.lineModel = 0;
            else if (name == "--silent") o.silent = true;
            else if (name == "--fail-erase") o.failErase = true;
            else if (name == "--exit-after-exec") o.exitAfterExec = true;
            else if (name == "--verbose" || name == "-v") o.verbose = true;
            else {
                error = "unknown option or missing value: " + arg;
                return ParseResult::Error;
            }
            continue;
        }
        if (!needs()) return bad("empty");
        if (name == "--protocol") {
            if (!FindProtocol(value)) return bad("unknown protocol");
            o.protocol = FindProtocol(value)->name;
        } else if (name == "--link") o.link = value;
        else if (name == "--dump") o.dumpHex = value;
        else if (name == "--dump-bin") o.dumpBin = value;
        else if (name == "--log") o.logPath = value;
        else if (name == "--flash-size") {
            if (!ParseU32(value, o.flashSize, 256u << 20) || o.flashSize == 0) return bad("1 byte to 256M");
        } else if (name == "--flash-base") {
            if (!ParseU32(value, o.flashBase)) return bad("a 32-bit address");
        } else if (name == "--block-size") {
            if (!ParseU32(value, o.blockSize, 0xFFFF)) return bad("0 to 65535");
        } else if (name == "--info-prefix") {
            if (!ParseHexBytes(value, bytes) || bytes.size() != 2) return bad("two hexadecimal bytes");
            o.infoPrefix = bytes;
        } else if (name == "--nak") {
            if (!ParseHexBytes(value, bytes) || bytes.size() != 1) return bad("one hexadecimal byte");
            o.nak = bytes[0];
        } else if (name == "--sync-answer") {
            if (!ParseHexBytes(value, o.syncAnswer)) return bad("hexadecimal bytes");
        } else if (name == "--isp-request") {
            if (!ParseHexBytes(value, o.ispRequest)) return bad("hexadecimal bytes");
        } else if (name == "--isp-response") {
            if (!ParseHexBytes(value, o.ispResponse)) return bad("hexadecimal bytes");
        } else if (name == "--entry-answer") {
            if (!ParseHexBytes(value, o.entryAnswer)) return bad("hexadecimal bytes");
        } else if (name == "--baud") {
            if (!ParseU32(value, o.baud) || o.baud < 50) return bad("a baud rate");
        } else if (name == "--max-baud") {
            if (!ParseU32(value, o.maxBaud) || o.maxBaud < 50) return bad("a baud rate");
        } else if (name == "--baud-answer-bytes") {
            if (!ParseU32(value, o.baudAnswerBytes, 16)) return bad("0 to 16");
        } else if (name == "--drop-ack") {
            if (!ParseAckList(value, o.dropAck)) return bad("list of N, N-M, C:N or C:N-M, counted from 1");
        } else if (name == "--corrupt-ack") {
            if (!ParseAckList(value, o.corruptAck)) return bad("list of N, N-M, C:N or C:N-M, counted from 1");
        } else if (name == "--no-ack-after") {
            if (!ParseU32(value, u)) return bad("a count");
            o.noAckAfter = u;
        } else if (name == "--timeout") {
            char* end = nullptr;
            o.timeoutSeconds = std::strtod(value.c_str(), &end);
            if (*end || !(o.timeoutSeconds >= 0)) return bad("seconds");
        } else if (name == "--erase-time") {
            if (!ParseU32(value, o.eraseTimeMs, 600000)) return bad("milliseconds");
        } else if (name == "--frame-timeout") {
            if (!ParseU32(value, o.frameTimeoutMs, 600000) || o.frameTimeoutMs == 0) return bad("milliseconds");
        } else {
            error = "unknown option: " + arg;
            return ParseResult::Error;
        }
    }
    if (!o.ispResponse.empty() && o.ispRequest.empty()) {
        error = "--isp-response needs --isp-request";
        return ParseResult::Error;
    }
    if (uint64_t{o.flashBase} + o.flashSize > 0x100000000ull) {
        error = "the flash runs past the end of the 32-bit address space";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

const char* HelpText() {
    return R"(Usage: vorlo-sim [options]

Simulates a target with a serial bootloader on a pseudo-terminal. The first line on
standard output is the terminal's path; connect to it with
  vorlo --connection=<path>,115200,8,N,1 ...

Target:
  --protocol=NAME        gen_iap (default) or mic_extmem
  --link=PATH            also make PATH a symbolic link to the terminal
  --flash-base=ADDR      first flash address (default 0)
  --flash-size=N         flash size, K and M suffixes allowed (default 1M)
  --overwrite            writes replace memory; default: programming may only clear
                         bits, so writing over unerased memory is refused
  --block-size=N         block size announced in the info reply (default 256)
  --info-prefix=HEX      the two free bytes of the info reply (default 0000)
  --nak=HEX              byte sent for a refused command (bad CRC, unerased or
                         out-of-range write, --fail-erase); default: no answer
  --erase-time=MS        time the erase takes before its acknowledge (default 0)
  --frame-timeout=MS     pause inside a write frame after which it is dropped (1000)
  --isp-request=HEX      (gen_iap) start in the application, which answers only
  --isp-response=HEX     these request bytes, with these response bytes
  --entry-answer=HEX     (mic_extmem) entry answer as on the wire (default A2050B)
  --max-baud=RATE        (mic_extmem) highest rate 'R' switches to

Line:
  --baud=RATE            the target's own rate; the host must use it, bytes at
                         another rate are lost. Default: follow the host's rate
                         until 'R' fixes one.
  --line-model           delay every byte by 10 bit times at the terminal's rate,
                         both ways (default when --baud is given)
  --no-line-model        answer at once

Faults:
  --drop-ack=LIST        do not send these acknowledges; LIST items: N, N-M
                         (counted over all commands, from 1) or C:N, C:N-M
                         (counted for command letter C only), comma-separated
  --corrupt-ack=LIST     send the --nak byte (default 15) instead of these
  --no-ack-after=N       send no acknowledge after the first N
  --silent               never answer anything
  --fail-erase           refuse the erase command
  --sync-answer=HEX      answer 'C' with these bytes instead of 06
  --baud-answer-bytes=N  (mic_extmem) send only N bytes of the 'R' answer

Run:
  --dump=FILE            at the end write the ranges written since the last erase
                         as Intel HEX
  --dump-bin=FILE        at the end write flash base .. last written byte as binary
  --log=FILE             log the wire traffic with times, directions and notes
  --verbose, -v          print the notes on standard error too
  --exit-after-exec      end after acknowledging 'X'
  --timeout=SECONDS      end after this long without traffic (exit code 2)
  --help, -h             this text

Ends on SIGTERM or SIGINT (exit code 0) and writes the dumps on every end.
)";
}
