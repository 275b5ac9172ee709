// MIC_EXTMEM: the target's running application is switched into its external-memory
// programming mode through the application's byte-stuffed channel framing; from then
// on it speaks the one-letter command set, and can move to a faster baud rate.
#include "drivers/mic_extmem.hpp"

#include <cstdlib>

#include "cli/messages.hpp"
#include "drivers/driver.hpp"
#include "drivers/gen_iap_link.hpp"
#include "drivers/kit/exchange.hpp"
#include "drivers/kit/serial_driver.hpp"
#include "platform/process.hpp"
#include "serial/serial_port.hpp"

bool MicEntryMatcher::Feed(uint8_t byte) {
    if (byte == kMicInvertNext) {
        invertNext = true;
        return false;
    }
    if (byte == kMicChannelMarker) {
        markerSeen = true;
        return false;
    }
    if (invertNext) {
        byte = static_cast<uint8_t>(~byte);
        invertNext = false;
    }
    if (markerSeen) {
        markerSeen = false;
        matchState = byte == kMicEntryChannel ? 2 : 0;
        return false;
    }
    if (matchState == 2 && byte == kMicEntryAck) return true;
    matchState = 0;
    return false;
}

std::vector<uint8_t> MicEntryRequest() {
    ChannelFrameSender sender(kMicFraming);
    sender.channel = 0;
    sender.channelPending = true;
    std::vector<uint8_t> wire;
    for (uint8_t b : kApplicationEntryMessage) sender.Send(b, wire);
    // Closing channel switch to the application's programming channel, sent as is.
    wire.insert(wire.end(), {kMicChannelMarker, 0x05, 0x13});
    return wire;
}

namespace {
bool MicOpen(const char* connection);
bool MicClose(int);
bool MicConnect(const char* key, char* info);
SerialDriver g_serial({MicOpen, MicConnect, MicClose});

bool MicOpen(const char* connection) { return g_serial.Open(connection); }

bool MicClose(int) {
    g_serial.Close();
    return true;
}

// The first comma-separated field of the driver option: a baud rate to negotiate.
uint32_t RequestedBaudRate() { return static_cast<uint32_t>(strtoul(SessionOf(g_drvMicExtmem).options, nullptr, 10)); }

bool EnterProgrammingMode() {
    std::vector<uint8_t> request = MicEntryRequest();
    LinkRequest(request.data(), request.size());
    MsgPrint(MSG_DEBUG, "Get ACK.");
    MicEntryMatcher matcher;
    for (int read = 0; read < 500; ++read) {
        uint8_t byte = 0;
        if (ComRead(&byte, 1, 20) != 1) continue;
        if (matcher.Feed(byte)) return true;
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

bool MicConnect(const char* key, char* info) {
    bool found = false;
    if (g_serial.ConnectHandled(key, info, found)) return found;

    uint32_t baudRate = RequestedBaudRate();
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

bool MicDisconnect() { return true; }

bool MicRead() { MsgError("mic_extmem: Function READ not supported."); }

bool MicErase() {
    // The external memory is always erased whole; erase ranges are not looked at.
    MsgPrint(MSG_DEBUG, "mic_extmem: Erase chip.");
    if (!IapCommand(kIapErase, 3, 8000)) MsgError("mic_extmem: Failed to perform erase.");
    return true;
}

bool MicWrite(uint32_t address, const uint8_t* data, uint32_t length) {
    return IapWriteBlock("mic_extmem", address, data, length);
}

bool MicExec() {
    MsgPrint(MSG_DEBUG, "DevUserPgmExec()");
    if (!IapCommand(kIapExec, 1, 20)) MsgError("mic_extmem: Failed to perform exec.");
    return true;
}
}  // namespace

const DriverDescriptor g_drvMicExtmem = {0,          256,           256,     MicOpen,  MicClose, MicConnect,
                                         MicDisconnect, MicRead, MicErase, MicWrite, MicExec};
