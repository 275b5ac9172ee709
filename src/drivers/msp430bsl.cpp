// MSP430BSL: the ROM bootstrap loader of MSP430F5xx/6xx parts over a UART at 8E1. The
// part enters the BSL through a pulse pattern on its RST and TEST pins (the reset and
// programming-enable lines); then every BSL command travels in a CRC-checked packet,
// is acknowledged with one byte and, for most commands, answered with a message or a
// data packet.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "base/text.hpp"
#include "drivers/descriptors.hpp"
#include "drivers/driver.hpp"
#include "drivers/gen_iap_link.hpp"
#include "drivers/kit/exchange.hpp"
#include "drivers/msp430/bsl_packet.hpp"
#include "image/code_image.hpp"
#include "platform/process.hpp"
#include "serial/interface.hpp"
#include "serial/line_control.hpp"
#include "serial/serial_port.hpp"


namespace {
constexpr int kEvenParity = 2;
constexpr uint8_t kProbe = 0x3F;            // not a header: the BSL answers it with 0x51
constexpr uint8_t kHeaderIncorrect = 0x51;
constexpr uint8_t kMessageLocked = 0x04;
constexpr uint32_t kAddressLimit = 0x10000;  // the driver reaches the lower 64 KiB only

constexpr uint32_t kMainFlashStart = 0x4400;  // F5xx/6xx main flash, as far as the driver reaches
constexpr uint32_t kMainSegment = 512;        // what a segment erase clears in the main flash
constexpr uint32_t kInfoStart = 0x1800;       // the info memory: segments D, C, B, A
constexpr uint32_t kInfoEnd = 0x1A00;
constexpr uint32_t kInfoSegment = 128;
constexpr uint32_t kVectors = 0xFFE0;         // the interrupt vectors: the BSL's password
constexpr size_t kPasswordBytes = 32;
constexpr uint32_t kReadBlock = 128;          // TX Data Block bytes per request
constexpr uint32_t kCrcChunk = 4096;          // bytes per CRC Check of a blank check

struct BslState {
    uint8_t lastMessage = 0;  // the code of the last BSL message response
    bool unlocked = false;    // a password was taken since the BSL was entered
};
BslState g_bsl;  // the BSL the run talks to

// The pins: TEST on the programming-enable line, RST on the reset line (DTR or RTS).
void Test(bool level) { PgmEnLineSet(level); }
void Rst(bool level) { ResetLineSet(level); }

enum class Answer { AckOnly, Expected };

// One exchange: the packet, its acknowledge and, where the command has one, the response
// packet. Returns the parsed response; kind Broken when anything failed (said at level 5).
BslResponse Exchange(uint8_t command, const std::vector<uint8_t>& data, Answer answer, bool* acknowledged = nullptr) {
    if (acknowledged) *acknowledged = false;
    std::vector<uint8_t> packet = BslPacket(command, data.data(), data.size());
    // Throwing away what is waiting is all a purge would do here, without its 1 ms pause
    // per packet.
    LinkRequest(packet.data(), packet.size());
    BslResponse broken;
    uint8_t ack = 0xFF;
    if (LinkReadFrame(&ack, 1, 3000) != 1) return broken;
    if (ack != kBslAck) {
        if (const char* text = BslAckText(ack)) MsgPrint(MSG_DEBUG, "%s", text);
        return broken;
    }
    MsgPrint(MSG_VERBOSE, "ACK received");
    if (acknowledged) *acknowledged = true;
    if (answer == Answer::AckOnly) return broken;

    uint8_t frame[3 + 255 + 2];
    if (LinkReadFrame(frame, 1, 1000) != 1 || frame[0] != kBslHeader) return broken;
    if (LinkReadFrame(frame + 1, 2, 200) != 2 || frame[2] != 0) return broken;
    size_t rest = frame[1] + 2u;
    if (LinkReadFrame(frame + 3, rest, 1000) != rest) return broken;
    BslResponse response = BslParseResponse(frame, 3 + rest);
    if (response.kind == BslResponse::Broken) MsgPrint(MSG_DEBUG, "Receive crc mismatch");
    return response;
}

// A command answered by a BSL message: true for message 0.
bool Command(uint8_t command, const std::vector<uint8_t>& data) {
    BslResponse response = Exchange(command, data, Answer::Expected);
    if (response.kind != BslResponse::Message) {
        MsgExplain("The BSL gave no valid answer to command %02X.", command);
        return false;
    }
    g_bsl.lastMessage = response.message;
    const char* text = BslMessageText(response.message);
    if (text) MsgPrint(MSG_DEBUG, "%s", text);
    if (response.message != 0)
        MsgExplain("The BSL answered command %02X with message %02X (%s).", command, response.message,
                   text ? text : "unknown");
    return response.message == 0;
}

// A command answered by data: the count delivered (at most `capacity`), -1 on failure.
int ReadData(uint8_t command, const std::vector<uint8_t>& data, uint8_t* out, size_t capacity) {
    BslResponse response = Exchange(command, data, Answer::Expected);
    if (response.kind == BslResponse::Message) {
        g_bsl.lastMessage = response.message;
        if (const char* text = BslMessageText(response.message)) MsgPrint(MSG_DEBUG, "%s", text);
        return -1;
    }
    if (response.kind != BslResponse::Data) return -1;
    size_t count = response.data.size();
    if (count > capacity) {
        MsgPrint(MSG_WARNING, "Received data truncated");
        count = capacity;
    }
    MsgPrint(MSG_DEBUG, "BSL data received %d bytes", static_cast<int>(response.data.size()));
    memcpy(out, response.data.data(), count);
    return static_cast<int>(count);
}

std::vector<uint8_t> Address(uint32_t address) {
    return {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address >> 16)};
}

// The vector area of an erased part reads FF: 32 bytes of FF is the password then.
bool SendPassword(const std::vector<uint8_t>& password) {
    bool taken = Command(BSL_RX_PASSWORD, password);
    if (taken) g_bsl.unlocked = true;
    return taken;
}
bool SendDefaultPassword() { return SendPassword(std::vector<uint8_t>(kPasswordBytes, 0xFF)); }

bool DefaultPasswordEntry() {
    MsgPrint(MSG_DEBUG, "Entering default password");
    if (SendDefaultPassword()) return true;
    MsgPrint(MSG_DEBUG, "Password rejected");
    MsgPrint(MSG_PLAIN, "Incorrect password given. Mass erase initiated internally.");
    return false;
}

// The BSL answers a byte that is no packet header with 51 as soon as it listens. A part
// takes up to 250 ms from its reset to start the BSL (its clock settling), and the answer
// may take 200 ms more; most start within a few milliseconds, so the probe goes out at
// once and again every 20 ms within that time, instead of once after the worst case. A
// probe that reaches the part before its BSL listens is lost; one whose start the UART
// missed may pass for a packet header, which the next probes complete into a packet the
// BSL refuses (54) before it answers one with 51. Only 51 counts.
bool ProbeBsl() {
    constexpr uint32_t kStartMs = 250 + 200;
    constexpr uint32_t kEveryMs = 20;
    const uint32_t start = TickCountMs();
    bool unanswered = false;
    do {
        LinkRequest(&kProbe, 1);
        uint8_t bytes[8];
        const size_t n = ComReadUntil(bytes, sizeof bytes, kEveryMs,
                                      [](const uint8_t* b, size_t count) { return b[count - 1] == kHeaderIncorrect; });
        if (n > 0 && bytes[n - 1] == kHeaderIncorrect) {
            // An answer to an earlier probe that was slow to come must not pass for the
            // acknowledge of the next packet.
            if (unanswered) ComRead(bytes, sizeof bytes, 5);
            return true;
        }
        unanswered = true;
    } while (TickCountMs() - start < kStartMs);
    return false;
}

// Rate codes of Change Baud Rate.
int RateCode(long baud) {
    switch (baud) {
    case 9600: return 0x02;
    case 19200: return 0x03;
    case 38400: return 0x04;
    case 57600: return 0x05;
    case 115200: return 0x06;
    default: return 0;
    }
}

bool BslConnect(ConnectCall&) {
    // The rate to move to is the second field of the connection string the port was
    // opened with.
    const std::vector<std::string> fields = SplitFields(OpenedConnection());
    const std::string second = fields.size() < 2 ? "" : fields[1];
    char* end = nullptr;
    long baud = strtol(second.c_str(), &end, 10);
    if (second.empty() || *end != '\0') {
        MsgPrint(MSG_DEBUG, "Unknown or missing baud rate");
        return false;
    }
    if (RateCode(baud) == 0) {
        MsgPrint(MSG_WARNING, "Only 9600 | 19200 | 38400 | 57600 | 115200 baudrates supported. Using 9600.");
        baud = 9600;
    }
    // The ROM BSL starts at 9600 baud, 8E1, whatever the connection string says.
    ComSetParams(9600, 8, kEvenParity, 0);

    // The part samples TEST at the end of its reset: two TEST pulses with RST low, then
    // RST released while TEST is high enter the BSL.
    MsgPrint(MSG_DEBUG, "Generating RST/TEST sequence");
    Rst(true);
    ComPurge();
    Test(false);
    SleepMs(5);
    Test(true);
    SleepMs(5);
    Test(false);
    SleepMs(5);
    Test(true);
    SleepMs(5);
    Rst(false);
    SleepMs(5);
    Test(false);

    // What the line changes left in the port goes, with its error state.
    MsgPrint(MSG_VERBOSE, "Clearing COM buffers");
    ComPurge();
    if (!ProbeBsl()) return false;
    MsgPrint(MSG_DEBUG, "BSL mode entered");
    g_bsl.unlocked = false;
    if (baud == 9600) return true;

    MsgPrint(MSG_DEBUG, "Changing baud rate");
    bool acknowledged = false;
    Exchange(BSL_CHANGE_BAUD_RATE, {static_cast<uint8_t>(RateCode(baud))}, Answer::AckOnly, &acknowledged);
    if (!acknowledged)
        MsgPrint(MSG_WARNING, "Failed to set baudrate %d", static_cast<int>(baud));
    else
        ComSetBaudRate(static_cast<uint32_t>(baud));  // still 8E1, the lines as they are
    return true;
}

bool BslErase(const char* item) {
    if (!item) {
        if (!Command(BSL_MASS_ERASE, {})) {
            MsgPrint(MSG_DEBUG, "Failed to erase chip");
            return false;
        }
        if (!SendDefaultPassword()) MsgPrint(MSG_DEBUG, "Failed to set password");
        uint8_t version[10];
        int count = ReadData(BSL_TX_VERSION, {}, version, sizeof version);
        if (count < 0) {
            MsgPrint(MSG_DEBUG, "Failed to get BSL version");
            return false;
        }
        if (count != 4) {
            MsgPrint(MSG_DEBUG, "Invalid BSL version data");
            return false;
        }
        MsgPrint(MSG_DEBUG, "BSL version: %.2X:%.2X:%.2X:%.2X", version[0], version[1], version[2], version[3]);
        return true;
    }

    std::string token = std::string(item).substr(0, std::string(item).find(','));
    token = token.substr(0, 32);
    const char* digits = token.c_str();
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) digits += 2;
    char* end = nullptr;
    unsigned long segment = strtoul(digits, &end, 16);
    // A token that is not a hexadecimal number names no segment.
    if (token.empty() || end == digits || *end != '\0') MsgError("Unknown erase option.");
    MsgPrint(MSG_PLAIN, " segment: 0x%lx ", segment);
    if (segment > 0xFFFF) MsgError("Blocked write to address >= 0x10000");
    std::vector<uint8_t> address = Address(static_cast<uint32_t>(segment));
    if (Command(BSL_ERASE_SEGMENT, address)) return true;
    if (g_bsl.lastMessage == kMessageLocked && !DefaultPasswordEntry()) DefaultPasswordEntry();
    return Command(BSL_ERASE_SEGMENT, address);
}

bool BslWrite(const char*, uint32_t address, const uint8_t* data, uint32_t length) {
    if (address > 0xFFFF || address + length > kAddressLimit) MsgError("Blocked write to address >= 0x10000");
    std::vector<uint8_t> block = Address(address);
    const size_t head = block.size();
    block.resize(head + length);
    if (length) memcpy(block.data() + head, data, length);
    if (!Command(BSL_RX_DATA_BLOCK, block)) {
        if (g_bsl.lastMessage != kMessageLocked) return false;
        DefaultPasswordEntry();
        if (!Command(BSL_RX_DATA_BLOCK, block)) return false;
    }
    // The flash is read back through the BSL's CRC of the block: a cell that did not
    // program shows there, and the block then counts as not programmed.
    uint16_t expected = Crc16CcittFalse(0xFFFF, data, length);
    std::vector<uint8_t> check = Address(address);
    check.push_back(static_cast<uint8_t>(length));
    check.push_back(0x00);
    uint8_t crc[10];
    if (ReadData(BSL_CRC_CHECK, check, crc, sizeof crc) < 2) {
        MsgExplain("The BSL gave no CRC of the block at %05X.", address);
        return false;
    }
    if ((crc[0] | (crc[1] << 8)) != expected) {
        MsgPrint(MSG_DEBUG, "Verify failed");
        MsgExplain("The BSL's CRC of the block at %05X is %04X, %04X was sent: the flash does not hold it (not erased, "
                   "or a cell that does not program).", address, crc[0] | (crc[1] << 8), expected);
        return false;
    }
    return true;
}

bool BslExec(const char*) {
    uint8_t vector[10];
    int count = ReadData(BSL_TX_DATA_BLOCK, {0xFE, 0xFF, 0x00, 0x02, 0x00}, vector, sizeof vector);
    if (count >= 0) {
        if (count != 2) MsgPrint(MSG_DEBUG, "too few data");
        MsgPrint(MSG_DEBUG, "Reset vector: %.2X%.2X", vector[0], vector[1]);
        Exchange(BSL_LOAD_PC, {vector[0], vector[1], 0x00}, Answer::AckOnly);
    } else {
        MsgPrint(MSG_DEBUG, "Failed to get reset vector contents");
    }
    // Reset with TEST low: the part starts its own code.
    Test(true);
    SleepMs(1);
    Rst(true);
    SleepMs(50);
    Rst(false);
    SleepMs(10);
    Test(false);
    Test(true);
    Test(false);
    SleepMs(1);
    Rst(true);
    SleepMs(50);
    Rst(false);
    SleepMs(50);
    return true;
}

// Everything but a write needs the BSL unlocked. Its password is the part's interrupt
// vectors, and a wrong one makes the BSL mass-erase the part: a command that only looks
// sends a password only when it is known to be the part's. Known are the one named by
// --bslpassword, and the vectors of the image at hand (the firmware the part holds; a
// write erases first, so the vectors the image leaves out read FF on the part).
// `image` null: none at hand. False when no password is known.
bool KnownPassword(const CodeImage* image, const char* imageName, std::vector<uint8_t>& password, std::string& source) {
    const RunContext& run = Run();
    if (!run.bslPassword.empty()) {
        password = run.bslPassword;
        source = run.bslPasswordSource;
        return true;
    }
    if (!image) return false;
    password.assign(kPasswordBytes, 0xFF);
    // An image without any vector cannot be the code on the part.
    if (CodeCopyOut(*image, kVectors, kPasswordBytes, password.data(), 0xFF) == 0) return false;
    source = std::string("the vectors FFE0-FFFF of the ") + imageName + " image";
    return true;
}

// Sends the known password; false when the BSL refused it (it has then erased the part).
bool SendKnownPassword(const CodeImage* image, const char* imageName) {
    std::vector<uint8_t> password;
    std::string source;
    if (!KnownPassword(image, imageName, password, source)) {
        MsgExplain("A wrong password makes the BSL erase the part. The password is the interrupt vector table "
                   "(FFE0-FFFF) of the code on the part.");
        MsgExplain("Load that code first (--importcode=FILE), or name it with --bslpassword=FILE (--bslpassword=ERASED "
                   "for a blank part).");
        MsgError("The BSL is locked and its password is not known: none was sent.");
    }
    MsgPrint(MSG_NOTE, "BSL password: %s.", source.c_str());
    return SendPassword(password);
}

void Unlock(const CodeImage* image, bool verifying) {
    if (!SendKnownPassword(image, verifying ? "verified" : "loaded"))
        MsgError("The BSL refused the password: a wrong password makes it erase the part, which is now blank.");
}

void BslStartReading(const CodeImage* image, bool verifying) {
    if (!g_bsl.unlocked) Unlock(image, verifying);
}

// UPDATE unlocks as VERIFY does. A password the BSL refused made it erase the part, whose
// password is then the erased vectors: the update goes on and writes every sector the
// image touches, as a write after an erase would.
void BslStartUpdating(const CodeImage& image) {
    if (g_bsl.unlocked || SendKnownPassword(&image, "updated")) return;
    MsgPrint(MSG_WARNING, "The BSL refused the password and erased the part: every sector the image touches is written.");
    if (!SendDefaultPassword()) MsgError("The BSL refused the password of the erased part.");
}

// The segments the BSL erases one at a time in the memory the driver reaches: the info
// memory's four of 128 bytes and the main flash's of 512 bytes.
MemoryRanges BslSegments() {
    MemoryRanges segments;
    for (uint32_t at = kInfoStart; at < kInfoEnd; at += kInfoSegment) segments.push_back({at, at + kInfoSegment - 1});
    for (uint32_t at = kMainFlashStart; at < kAddressLimit; at += kMainSegment)
        segments.push_back({at, at + kMainSegment - 1});
    return segments;
}

bool BslEraseSegments(uint32_t first, uint32_t last) {
    for (const MemoryRange& segment : BslSegments()) {
        if (segment.last < first || segment.first > last) continue;
        MsgPrint(MSG_DEBUG, "Erase segment %05X", segment.first);
        if (!Command(BSL_ERASE_SEGMENT, Address(segment.first))) return false;
    }
    return true;
}

bool BslRead(uint32_t address, uint8_t* data, uint32_t length) {
    if (address + uint64_t{length} > kAddressLimit) MsgError("Blocked read of address >= 0x10000");
    for (uint32_t at = 0; at < length;) {
        uint32_t n = std::min(kReadBlock, length - at);
        std::vector<uint8_t> request = Address(address + at);
        request.push_back(static_cast<uint8_t>(n));
        request.push_back(static_cast<uint8_t>(n >> 8));
        if (ReadData(BSL_TX_DATA_BLOCK, request, data + at, n) != static_cast<int>(n)) return false;
        at += n;
    }
    return true;
}

// The BSL's CRC of the memory, -1 when it did not answer.
int32_t TargetCrc(uint32_t address, uint32_t length) {
    std::vector<uint8_t> request = Address(address);
    request.push_back(static_cast<uint8_t>(length));
    request.push_back(static_cast<uint8_t>(length >> 8));
    uint8_t crc[10];
    if (ReadData(BSL_CRC_CHECK, request, crc, sizeof crc) < 2) return -1;
    return crc[0] | (crc[1] << 8);
}

bool BslMemoryCrc(uint32_t address, uint32_t length, uint16_t& crc) {
    if (address + uint64_t{length} > kAddressLimit) MsgError("Blocked read of address >= 0x10000");
    const int32_t value = TargetCrc(address, length);
    crc = static_cast<uint16_t>(value);
    return value >= 0;
}

// By the BSL's CRC; only a block whose CRC differs is read back, to name the address.
bool BslVerify(uint32_t address, const uint8_t* data, uint32_t length, Difference& difference) {
    if (address + uint64_t{length} > kAddressLimit) MsgError("Blocked read of address >= 0x10000");
    int32_t crc = TargetCrc(address, length);
    if (crc < 0) MsgError("CRC Check of %05X failed.", address);
    if (crc == Crc16CcittFalse(0xFFFF, data, length)) return true;
    std::vector<uint8_t> target(length);
    if (!BslRead(address, target.data(), length)) MsgError("Reading %05X failed.", address);
    return SameBytes(address, target.data(), data, length, difference);  // true: only the CRC differed on the line
}

bool BslBlankCheck(const char* ranges, BlankFinding& finding) {
    if (ranges) MsgError("Unknown blank check option.");
    const std::vector<uint8_t> erased(kCrcChunk, 0xFF);
    for (uint32_t at = kMainFlashStart; at < kAddressLimit; at += kCrcChunk) {
        uint32_t n = std::min(kCrcChunk, kAddressLimit - at);
        int32_t crc = TargetCrc(at, n);
        if (crc < 0) MsgError("CRC Check of %05X failed.", at);
        if (crc == Crc16CcittFalse(0xFFFF, erased.data(), n)) continue;
        std::vector<uint8_t> bytes(n);
        if (!BslRead(at, bytes.data(), n)) MsgError("Reading %05X failed.", at);
        for (uint32_t i = 0; i < n; ++i) {
            if (bytes[i] != 0xFF) {
                finding = {-1, at + i, bytes[i]};
                return false;
            }
        }
    }
    return true;
}

// The BSL tells its version only once unlocked: asked while locked it answers "locked".
std::vector<std::string> BslDeviceInfo(const CodeImage* image) {
    uint8_t version[10];
    g_bsl.lastMessage = 0;
    int count = ReadData(BSL_TX_VERSION, {}, version, sizeof version);
    if (count < 0 && g_bsl.lastMessage == kMessageLocked && !g_bsl.unlocked) {
        Unlock(image, false);
        count = ReadData(BSL_TX_VERSION, {}, version, sizeof version);
    }
    if (count != 4) MsgError("Failed to get BSL version");
    char line[64];
    snprintf(line, sizeof line, "BSL version: %02X.%02X.%02X.%02X", version[0], version[1], version[2], version[3]);
    return {line};
}
}  // namespace

const DriverDescriptor g_drvMsp430Bsl = {
    .classCode = 0, .blockSize = 128, .lengthMultiple = 1,
    .connect = BslConnect, .erase = BslErase, .write = BslWrite, .exec = BslExec,
    .read = BslRead,
    .verify = BslVerify,
    .startReading = BslStartReading,
    .memory = [] { return MemoryRanges{{kMainFlashStart, kAddressLimit - 1}}; },
    .readBlock = kReadBlock,
    .verifyBlock = kCrcChunk,  // one CRC Check answers for 4 KiB
    .blankCheck = BslBlankCheck,
    .deviceInfo = BslDeviceInfo,
    .sectors = BslSegments,
    .memoryCrc = BslMemoryCrc,
    .eraseSectors = BslEraseSegments,
    .startUpdating = BslStartUpdating,
    // The first port that opens gets the whole connection time-out: a part that is
    // still coming out of reset answers the probe only after a while.
    .search = {.retryUntilTimeout = true, .announceFound = true},
    .connectHint = "The BSL is entered by the RST/TEST pattern: TEST on --pgmenctrl, RST on --resetctrl (DTR or RTS, "
                   "with their active levels); the connection's rate must be 9600, 19200, 38400, 57600 or 115200.",
    .tag = "msp43bsl: ",
};
