// MIC_EXTMEM: the target's running application is switched into its external-memory
// programming mode through the application's byte-stuffed channel framing; from then
// on it speaks the one-letter command set, and can move to a faster baud rate.
#include <cstdlib>

#include "base/messages.hpp"
#include "drivers/descriptors.hpp"
#include "drivers/driver.hpp"
#include "drivers/gen_iap_link.hpp"
#include "drivers/kit/channel_framing.hpp"
#include "drivers/kit/exchange.hpp"
#include "platform/process.hpp"
#include "serial/serial_port.hpp"


namespace {
constexpr uint8_t kEntry = 0x13;  // on the programming channel: external memory

bool EnterProgrammingMode() {
    std::vector<uint8_t> request = ApplicationEntryRequest(kMicFraming, true, kEntry);
    LinkRequest(request.data(), request.size());
    MsgPrint(MSG_DEBUG, "Get ACK.");
    ChannelEntryReceiver receiver;
    for (int read = 0; read < 500; ++read) {
        uint8_t byte = 0;
        if (ComRead(&byte, 1, 20) != 1) continue;
        if (receiver.Feed(byte)) return true;
    }
    return false;
}

bool NegotiateBaudRate(uint32_t rate) {
    const uint8_t command = 'R';
    LinkRequest(&command, 1);
    for (int i = 0; i < 4; ++i) {
        uint8_t byte = static_cast<uint8_t>(rate >> (8 * i));
        ComWrite(&byte, 1);
    }
    uint8_t answer[5];
    if (ComRead(answer, sizeof answer, 100) != 4) MsgError("Baudrate negotiation failed.");
    uint32_t granted = answer[0] | (answer[1] << 8) | (answer[2] << 16) | (static_cast<uint32_t>(answer[3]) << 24);
    MsgPrint(MSG_DEBUG, "Changing baud rate to %d", static_cast<int>(granted));
    // Only the rate changes: the character format and the modem lines stay as they are.
    ComSetBaudRate(granted);
    ComPurge();
    SleepMs(100);
    return true;
}

bool MicConnect(ConnectCall& call) {
    // The first comma-separated field of the driver option: a baud rate to negotiate.
    uint32_t baudRate = static_cast<uint32_t>(strtoul(call.options.c_str(), nullptr, 10));
    MsgPrint(MSG_DEBUG, "mic_extmem: Connecting device.");
    ComPurge();
    if (!EnterProgrammingMode()) return false;
    MsgPrint(MSG_DEBUG, "Ext mem pgm mode enterd");
    if (!IapSynchronise(10, 5)) return false;

    ComPurge();
    MsgPrint(MSG_DEBUG, "Get block size.");
    uint16_t blockSize = IapGetBlockSize(
        {"mic_extmem: Failed to get nfo.", "mic_extmem: Unknown nfo type.", "mic_extmem: Block size can't be zero."});
    SessionOf(g_drvMicExtmem).blockSize = blockSize;
    MsgPrint(MSG_DEBUG, "mic_extmem: Block size is %d", blockSize);
    if (baudRate == 0) return true;
    return NegotiateBaudRate(baudRate);
}

bool MicErase(const char*) {
    // The external memory is always erased whole; erase ranges are not looked at.
    MsgPrint(MSG_DEBUG, "mic_extmem: Erase chip.");
    if (!IapCommand(kIapErase, 3, 8000)) MsgError("mic_extmem: Failed to perform erase.");
    return true;
}

bool MicWrite(const char*, uint32_t address, const uint8_t* data, uint32_t length) {
    return IapWriteBlock("mic_extmem", address, data, length);
}

bool MicExec(const char*) {
    MsgPrint(MSG_DEBUG, "DevUserPgmExec()");
    if (!IapCommand(kIapExec, 1, 20)) MsgError("mic_extmem: Failed to perform exec.");
    return true;
}
}  // namespace

const DriverDescriptor g_drvMicExtmem = {
    .classCode = 0, .blockSize = 256, .lengthMultiple = 256,
    .connect = MicConnect, .erase = MicErase, .write = MicWrite, .exec = MicExec,
    .connectHint = "The application must be running at the connection's rate and take the entry request into its "
                   "external-memory programming mode.",
    .tag = "mic_extmem: ",
};
