// MODBUS: a resident bootloader reached as a Modbus RTU slave. Its commands travel in
// the user-defined function 0x41; through a chain of forwarding slaves, each frame is
// preceded by a write of register 0x07CF telling the slave where the next frame goes.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "base/text.hpp"
#include "drivers/descriptors.hpp"
#include "drivers/driver.hpp"
#include "drivers/kit/exchange.hpp"
#include "drivers/modbus/frames.hpp"
#include "platform/process.hpp"
#include "serial/serial_port.hpp"


namespace {
constexpr int kAttempts = 15;
constexpr uint32_t kRetryPauseMs = 200;
constexpr size_t kAnswerBytes = 6;
constexpr size_t kForwardingAnswerBytes = 8;
constexpr uint32_t kMaxBlock = 128;

// The bus as the run left it.
struct ModbusState {
    uint8_t slave = 1;
    bool forwarding = false;
    uint8_t p2 = 0;
    uint8_t p3 = 0;
    uint8_t goodAnswers = 0;   // never reset: only the first connect of a run needs two
    uint64_t lastAnswerUs = 0;  // when the last answer ended
};
ModbusState g_bus;

// Options: slave number, P2, P3. A slave number of 0 keeps the slave; P2 switches
// forwarding on; a missing P3 keeps the earlier one.
void ReadOptions(const std::string& options) {
    g_bus.forwarding = false;
    const std::vector<std::string> fields = SplitFields(options.substr(0, 30));
    if (!fields[0].empty()) {
        uint8_t slave = static_cast<uint8_t>(strtoul(fields[0].c_str(), nullptr, 10));
        if (slave != 0) g_bus.slave = slave;
    }
    if (fields.size() > 1 && !fields[1].empty()) {
        g_bus.p2 = static_cast<uint8_t>(strtoul(fields[1].c_str(), nullptr, 10));
        g_bus.forwarding = true;
    }
    if (fields.size() > 2 && !fields[2].empty()) g_bus.p3 = static_cast<uint8_t>(strtoul(fields[2].c_str(), nullptr, 10));
}

// Modbus RTU frames are told apart by silence: 3.5 character times between two frames
// on the bus (a fixed 1750 us above 19200 baud). The next request waits out what is
// left of that gap after the last answer, so that a slave whose receiver hears the bus
// (RS-485) does not take answer and request for one frame.
void KeepFrameGap() {
    uint32_t baud = ComBaudRate();
    uint32_t gapUs = baud > 19200 || baud == 0 ? 1750 : static_cast<uint32_t>(3.5 * 11 * 1000000.0 / baud);
    uint64_t since = MonotonicUs() - g_bus.lastAnswerUs;
    if (since < gapUs) SleepUs(static_cast<uint32_t>(gapUs - since));
}

void Request(const std::vector<uint8_t>& frame) {
    KeepFrameGap();
    LinkRequest(frame.data(), frame.size());
}

size_t ReadAnswer(uint8_t* answer, size_t n, uint32_t timeoutMs) {
    size_t got = LinkReadFrame(answer, n, timeoutMs);
    g_bus.lastAnswerUs = MonotonicUs();
    return got;
}

void PauseAndPurge() {
    SleepMs(kRetryPauseMs);
    ComPurge();
}

// The forwarding request (when forwarding is on), then the bootloader frame. After 15
// refused forwarding requests the frame is not sent: the caller's read times out.
void SendPayload(const std::vector<uint8_t>& payload) {
    if (g_bus.forwarding) {
        std::vector<uint8_t> request = ModbusForwardingRequest(g_bus.slave, g_bus.p2, g_bus.p3);
        bool forwarded = false;
        for (int attempt = 0; attempt < kAttempts && !forwarded; ++attempt) {
            Request(request);
            uint8_t answer[kForwardingAnswerBytes];
            size_t got = ReadAnswer(answer, sizeof answer, 200);
            forwarded = got == sizeof answer && !LinkMoreFollows() && ModbusForwardingAnswerGood(g_bus.slave, answer, got);
            if (!forwarded) PauseAndPurge();
        }
        if (!forwarded) return;
    }
    Request(ModbusBootloaderFrame(g_bus.slave, payload));
}

// The bootloader's answer: slave 41 01 06 CRC, exactly, within the time. `silent` is
// set when nothing at all came.
bool AnswerGood(uint32_t timeoutMs, bool* silent = nullptr) {
    uint8_t answer[kAnswerBytes];
    size_t got = ReadAnswer(answer, sizeof answer, timeoutMs);
    if (silent) *silent = got == 0;
    return got == sizeof answer && !LinkMoreFollows() && ModbusBootloaderAnswerGood(g_bus.slave, answer, got);
}

bool MbConnect(ConnectCall& call) {
    char* info = call.info;
    if (info) info[0] = '\0';
    ReadOptions(call.options);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        MsgPrint(MSG_DEBUG, "Trying to connect to target system.");
        SendPayload({0x08});
        if (AnswerGood(300)) {
            if (++g_bus.goodAnswers >= 2) return true;
            ComPurge();
        } else {
            PauseAndPurge();
        }
    }
    return false;
}

bool MbErase(const char*) {
    // The bootloader knows one erase: erase items are not looked at.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        MsgPrint(MSG_DEBUG, "Executing ERASE command.");
        SendPayload({0x02});
        if (AnswerGood(3000)) return true;
        PauseAndPurge();
    }
    MsgExplain("The bootloader gave no good answer to the erase, %d tries.", kAttempts);
    return false;
}

bool MbWrite(const char*, uint32_t address, const uint8_t* data, uint32_t length) {
    if (length > kMaxBlock) MsgError("Unsupported write block size.");
    if (length == 0) return true;
    std::vector<uint8_t> payload = {0x05, static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                                    static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    const size_t head = payload.size();
    payload.resize(head + length);
    if (length) memcpy(payload.data() + head, data, length);
    // Every attempt carries the same block; an attempt that got no answer may still be
    // answered late, and that answer must not reach the next block's exchange.
    size_t silentAttempts = 0;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        MsgPrint(MSG_DEBUG, "Writing %i bytes %04X-%04X try %i", static_cast<int>(length), address,
                 address + length - 1, attempt);
        SendPayload(payload);
        bool silent = false;
        if (AnswerGood(1000, &silent)) {
            LinkSettle(silentAttempts * kAnswerBytes, 1000);
            return true;
        }
        if (silent) ++silentAttempts;
        PauseAndPurge();
    }
    MsgExplain("The bootloader gave no good answer to the block at %08X, %d tries.", address, kAttempts);
    MsgError("Write failed.");
}

bool MbExec(const char*) {
    MsgPrint(MSG_DEBUG, "Starting user mode program.");
    return true;
}
}  // namespace

const DriverDescriptor g_drvModbus = {
    .classCode = 1, .blockSize = 128, .lengthMultiple = 16,
    .connect = MbConnect, .erase = MbErase, .write = MbWrite, .exec = MbExec,
    .connectHint = "The bootloader must answer as the Modbus slave of --driver=MODBUS,SLAVE (1 by default) at the "
                   "connection's rate; with P2, through the forwarding slave.",
};
