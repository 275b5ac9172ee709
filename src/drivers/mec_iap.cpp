// MEC_IAP: an application on an NXP LPC controller is asked, in its channel framing at
// 2400 baud, to drop into the LPC boot ROM; from then on the LPC2000_ISP driver does the
// work. This driver only brings the target there and hands the line over.
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "base/run_flags.hpp"
#include "drivers/driver.hpp"
#include "drivers/kit/channel_framing.hpp"
#include "drivers/kit/exchange.hpp"
#include "drivers/registry.hpp"
#include "platform/process.hpp"
#include "serial/serial_port.hpp"

extern const DriverDescriptor g_drvMecIap;

namespace {
constexpr int kEntryAttempts = 10;
constexpr uint32_t kBootRomRate = 38400;
constexpr uint32_t kApplicationRate = 2400;
constexpr uint8_t kEntry = 0x0A;  // on the programming channel: into the boot ROM

// The LPC2000_ISP driver with a 10 MHz crystal and this driver's option as its fast-mode
// rate becomes the current driver.
const DriverDescriptor& SelectBootRomDriver(const std::string& options) {
    const DriverDescriptor& bootRom = DriverNamed("LPC2000_ISP");
    DriverSelect(bootRom, ("10000," + options).c_str());
    return bootRom;
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

bool MecConnect(const char*, char* info) {
    MsgPrint(MSG_DEBUG, "Connecting device.");
    ComPurge();

    // A target that is in its boot ROM already answers the LPC synchronisation at once.
    const std::string options = DriverOptions();
    const DriverDescriptor& bootRom = SelectBootRomDriver(options);
    ComSetBaudRate(kBootRomRate);
    if (DevConnect(bootRom, "", info)) return true;

    DriverSelect(g_drvMecIap, options.c_str());  // not the boot-ROM driver's options
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
        if (DevConnect(bootRom, "10000", info)) return true;
        if (g_flags.abort) return false;
        if (TickCountMs() - start >= static_cast<uint32_t>(ConnectTimeout() > 0 ? ConnectTimeout() : 0) * 1000u)
            return false;
    }
}
}  // namespace

// Once connected, the boot-ROM driver is current: these steps only run when MEC_IAP is
// selected again on a standing connection, and leave the target alone.
const DriverDescriptor g_drvMecIap = {
    .classCode = 4,
    .blockSize = 256,
    .lengthMultiple = 16,
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
