// MEC_IAP: an application on an NXP LPC controller is asked, in its channel framing at
// 2400 baud, to drop into the LPC boot ROM; from then on the LPC2000_ISP driver does the
// work. This driver only brings the target there and hands over through the dispatcher.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/exit.hpp"
#include "cli/messages.hpp"
#include "cli/run_flags.hpp"
#include "commands/dispatcher.hpp"
#include "commands/settings.hpp"
#include "drivers/driver.hpp"
#include "drivers/kit/channel_framing.hpp"
#include "drivers/kit/exchange.hpp"
#include "drivers/kit/serial_driver.hpp"
#include "platform/process.hpp"
#include "serial/auto_search.hpp"
#include "serial/port_list.hpp"
#include "serial/remembered_port.hpp"
#include "serial/serial_port.hpp"

namespace {
constexpr int kEntryAttempts = 10;
constexpr uint32_t kBootRomRate = 38400;
constexpr uint32_t kApplicationRate = 2400;

bool MecOpen(const char* connection);
bool MecClose(int);
bool MecConnect(const char* key, char* info);
SerialDriver g_serial({MecOpen, MecConnect, MecClose});
AutoSearchState g_auto;

std::string OptionText() { return SessionOf(g_drvMecIap).options; }

// The LPC2000_ISP driver with a 10 MHz crystal and this driver's option as its fast-mode
// rate becomes the current driver.
void SelectBootRomDriver(const std::string& options) {
    std::string command = "--driver=LPC2000_ISP,10000," + options;
    CmdDispatch(command.c_str());
}

// The entry request in the application's framing: the message on channel 0, then the
// byte 0x0A on channel 5.
std::vector<uint8_t> EntryRequest() {
    ChannelFrameSender sender(kMecFraming);
    sender.channel = 0;
    sender.channelPending = true;
    std::vector<uint8_t> wire;
    for (uint8_t b : kApplicationEntryMessage) sender.Send(b, wire);
    sender.channel = 5;
    sender.lastChannelSent = 0;
    sender.Send(0x0A, wire);
    return wire;
}

bool EnterBootRom() {
    const std::vector<uint8_t> request = EntryRequest();
    ChannelEntryReceiver receiver;
    for (int attempt = 0; attempt < kEntryAttempts; ++attempt) {
        MsgPrint(MSG_DEBUG, "Trying to enter programming mode.");
        LinkRequest(request.data(), request.size());
        // At 2400 baud the request alone takes 67 ms on the line: the answer is awaited
        // from when the request has gone out, plus 20 ms, not 20 ms from the write.
        uint32_t waitMs = (static_cast<uint32_t>(request.size() + 4) * ComCharTimeUs() + 999) / 1000 + 20;
        uint8_t byte = 0;
        const uint32_t start = TickCountMs();
        while (!receiver.Entered() && TickCountMs() - start < waitMs)
            if (ComReadWithin(&byte, 1, (waitMs - (TickCountMs() - start)) * 1000u) == 1) receiver.Feed(byte);
        if (receiver.Entered()) return true;
    }
    return false;
}

// Only the enumerated ports, without the remembered one first; a search in which every
// port fails ends the process.
bool Search(const char* key, char* info) {
    g_auto.pending = false;
    const std::string savedOptions = OptionText();
    size_t comma = g_auto.autoString.find(',');
    const std::string params = comma == std::string::npos ? "" : g_auto.autoString.substr(comma);
    if (PortEnumerate(g_auto.filter, false, true, true) == 0) MsgPrint(MSG_PLAIN, "No suitable COM port found.");
    while (const char* taken = PortTakeNext()) {
        std::string port = taken;
        MsgPrint(MSG_PLAIN, "Trying port %s", port.c_str());
        std::string connection = port + params;
        SetConnectionString(connection.c_str());
        if (MecOpen(connection.c_str()) && MecConnect(key, info)) return true;
        MecClose(0);
        // The connect selected LPC2000_ISP with other options: this driver again.
        CmdDispatch("--driver=MEC_IAP");
        SetDriverOptionText(savedOptions.c_str());
    }
    RememberedPortWrite("");
    AppExit(-1);
}

bool MecOpen(const char* connection) {
    if (AutoSearchTake(g_auto, connection)) return true;
    return g_serial.Open(connection);
}

bool MecClose(int) {
    g_serial.Close();
    return true;
}

bool MecConnect(const char* key, char* info) {
    if (g_auto.pending) return Search(key, info);
    MsgPrint(MSG_DEBUG, "Connecting device.");
    ComPurge();

    // A target that is in its boot ROM already answers the LPC synchronisation at once.
    const std::string options = OptionText();
    SelectBootRomDriver(options);
    ComSetBaudRate(kBootRomRate);
    if (g_drvLpc2000Isp.DevConnect("", info)) return true;

    CmdDispatch("--driver=MEC_IAP");
    SetDriverOptionText(options.c_str());  // not the boot-ROM driver's, which share the buffer
    ComPurge();
    ComSetBaudRate(kApplicationRate);
    if (!EnterBootRom()) return false;

    SelectBootRomDriver(options);
    ComPurge();
    ComSetBaudRate(kBootRomRate);
    ComPurge();
    SleepMs(200);
    const uint32_t start = TickCountMs();
    for (;;) {
        if (g_drvLpc2000Isp.DevConnect("10000", info)) return true;
        if (g_abort) return false;
        if (TickCountMs() - start >= static_cast<uint32_t>(ConnectTimeout() > 0 ? ConnectTimeout() : 0) * 1000u)
            return false;
    }
}

bool MecDisconnect() { return true; }
bool MecRead() { MsgError("Function READ not supported."); }
bool MecErase() { return true; }
bool MecWrite(uint32_t, const uint8_t*, uint32_t) { return true; }
bool MecExec() {
    MsgPrint(MSG_DEBUG, "Starting program.");
    return true;
}
}  // namespace

const DriverDescriptor g_drvMecIap = {4,            256,    16,      MecOpen,  MecClose, MecConnect,
                                      MecDisconnect, MecRead, MecErase, MecWrite, MecExec};
