// LPC2000_IAP: the in-application programming routine of a target's own firmware. The
// running application is asked into its programming mode in its channel framing (or
// with the REQISP request); then blocks go as plain address/length/data records, each
// acknowledged with 0x06. The records carry no checksum: a byte damaged on the line
// goes into the flash unnoticed.
#include <cstring>
#include <vector>

#include "base/messages.hpp"
#include "drivers/descriptors.hpp"
#include "drivers/driver.hpp"
#include "drivers/kit/channel_framing.hpp"
#include "drivers/kit/exchange.hpp"
#include "platform/process.hpp"
#include "serial/line_control.hpp"
#include "serial/serial_port.hpp"


namespace {
constexpr uint8_t kAck = 0x06;
constexpr uint32_t kMaxRecord = 256;
constexpr int kEntryAttempts = 20;

// The entry request: the byte 0x0A on channel 5 (A2 05 0A on the wire). The answer is
// collected from what has come 50 ms later.
bool EnterProgrammingMode() {
    ChannelEntryReceiver receiver;
    for (int attempt = 0; attempt < kEntryAttempts; ++attempt) {
        MsgPrint(MSG_DEBUG, "Trying to enter ISP mode.");
        ComPurge();
        const std::vector<uint8_t> wire = ApplicationEntryRequest(kLpcIapFraming, false, 0x0A);
        LinkRequest(wire.data(), wire.size());
        SleepMs(50);
        uint8_t answer[64];
        while (size_t n = ComReadWithin(answer, sizeof answer, 0))
            for (size_t i = 0; i < n; ++i) receiver.Feed(answer[i]);
        if (receiver.Entered()) {
            MsgPrint(MSG_PLAIN, "Pgm mode entered");
            return true;
        }
    }
    return false;
}

bool IapConnect(ConnectCall& call) {
    char* info = call.info;
    MsgPrint(MSG_DEBUG, "Connecting device.");
    if (IspRequestGet().requestCount > 0) return LinkIspRequest() == IspOutcome::Answered;
    if (!EnterProgrammingMode()) return false;
    if (info) info[0] = '\0';
    // The programming mode talks at 9600 baud; only the rate changes.
    ComSetBaudRate(9600);
    SleepMs(300);
    return true;
}

// One record: address LE32, length LE16, data; one ACK byte back.
void SendRecord(uint32_t address, const uint8_t* data, uint32_t length) {
    std::vector<uint8_t> record = {static_cast<uint8_t>(address),       static_cast<uint8_t>(address >> 8),
                                   static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24),
                                   static_cast<uint8_t>(length),        static_cast<uint8_t>(length >> 8)};
    const size_t head = record.size();
    record.resize(head + length);
    if (length) memcpy(record.data() + head, data, length);
    LinkRequest(record.data(), record.size());
    uint8_t answer = 0;
    if (LinkReadFrame(&answer, 1, 3000) != 1) {
        MsgExplain("The application did not acknowledge the record at %08X within 3 s.", address);
        MsgError("Write failed.");
    }
    if (answer != kAck) {
        MsgExplain("The application answered the record at %08X with %02X, not 06.", address, answer);
        MsgError("Write failed.");
    }
}

bool IapDisconnect() {
    MsgPrint(MSG_DEBUG, "Disconnecting device.");
    SendRecord(0, nullptr, 0);
    return true;
}

bool IapErase(const char*) {
    MsgPrint(MSG_DEBUG, "Executing ERASE command.");
    MsgError("Function ERASE not supported.");
}

bool IapWrite(const char*, uint32_t address, const uint8_t* data, uint32_t length) {
    if (length > kMaxRecord) MsgError("Unsupported write block size.");
    if (length > 0) MsgPrint(MSG_DEBUG, "Writing %i bytes %04X-%04X", static_cast<int>(length), address, address + length - 1);
    // The end call of WRITE sends the empty record too: it tells the routine the write is over.
    SendRecord(address, data, length);
    return true;
}

bool IapExec(const char*) {
    MsgPrint(MSG_DEBUG, "Starting user mode program.");
    return true;
}
}  // namespace

const DriverDescriptor g_drvLpc2000Iap = {
    .classCode = 1, .blockSize = 256, .lengthMultiple = 16,
    .connect = IapConnect, .erase = IapErase, .write = IapWrite, .exec = IapExec,
    .disconnect = IapDisconnect,
    // The application's line has no use for the modem lines: both off.
    .opened =
        [] {
            ComSetDtr(false);
            ComSetRts(false);
        },
    .connectHint = "The application must be running at the connection's rate and take the entry request (A2 05 0A, "
                   "or the --reqisp request).",
};
