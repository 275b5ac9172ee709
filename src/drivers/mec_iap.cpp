// MEC_IAP: an application on an NXP LPC controller is asked, in its channel framing at
// 2400 baud, to drop into the LPC boot ROM; from then on the LPC2000_ISP driver does the
// work. This driver only brings the target there and hands the line over.
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "drivers/descriptors.hpp"
#include "drivers/driver.hpp"
#include "drivers/kit/channel_framing.hpp"
#include "drivers/kit/exchange.hpp"
#include "drivers/kit/serial_driver.hpp"
#include "platform/process.hpp"
#include "serial/serial_port.hpp"

namespace {
constexpr int kEntryAttempts = 10;
constexpr uint32_t kBootRomRate = 38400;
constexpr uint32_t kApplicationRate = 2400;
constexpr uint8_t kEntry = 0x0A;  // on the programming channel: into the boot ROM

// The boot-ROM driver's options: a 10 MHz crystal, and this driver's option as its
// fast-mode rate.
std::string BootRomOptions(const std::string& options) { return "10000," + options; }

// One connect of the boot-ROM driver with those options. True: it owns the line now.
bool ConnectBootRom(ConnectCall& call, const char* key) {
    ConnectCall bootRom;
    bootRom.key = key;
    bootRom.options = BootRomOptions(call.options);
    bootRom.info = call.info;
    if (!SerialDriverConnect(g_drvLpc2000Isp, bootRom)) return false;
    // The boot-ROM driver takes the line, and hands it on once more to a fast mode it
    // started.
    call.handOvers.push_back({&g_drvLpc2000Isp, bootRom.options});
    call.handOvers.insert(call.handOvers.end(), bootRom.handOvers.begin(), bootRom.handOvers.end());
    return true;
}

bool EnterBootRom() {
    const std::vector<uint8_t> request = ApplicationEntryRequest(kMecFraming, true, kEntry);
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

bool MecConnect(ConnectCall& call) {
    MsgPrint(MSG_DEBUG, "Connecting device.");
    ComPurge();

    // A target that is in its boot ROM already answers the LPC synchronisation at once.
    ComSetBaudRate(kBootRomRate);
    if (ConnectBootRom(call, "")) return true;

    ComPurge();
    ComSetBaudRate(kApplicationRate);
    if (!EnterBootRom()) return false;

    ComPurge();
    ComSetBaudRate(kBootRomRate);
    ComPurge();
    SleepMs(200);
    return ConnectWait([&call] { return ConnectBootRom(call, "10000"); }, ConnectTimeout());
}
}  // namespace

// Once connected, the boot-ROM driver is current: these steps only run when MEC_IAP is
// selected again on a standing connection, and leave the target alone.
const DriverDescriptor g_drvMecIap = {
    .classCode = 4, .blockSize = 256, .lengthMultiple = 16,
    .connect = MecConnect,
    .erase = [](const char*) { return true; },
    .write = [](const char*, uint32_t, const uint8_t*, uint32_t) { return true; },
    .exec =
        [](const char*) {
            MsgPrint(MSG_DEBUG, "Starting program.");
            return true;
        },
    // Only the listed ports, without the remembered one; when none answers, the run
    // ends with exit code -1.
    .search = {.remembered = false,
               .noPortText = "No suitable COM port found.",
               .traceTrying = false,
               .exitWhenNoneAnswers = -1},
    .connectHint = "The application must take the entry request at 2400 baud, or the part be in its boot ROM "
                   "already (38400 baud).",
};
