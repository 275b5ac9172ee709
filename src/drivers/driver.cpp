#include "drivers/driver.hpp"

#include <cstdlib>
#include <vector>

#include "base/messages.hpp"
#include "drivers/kit/serial_driver.hpp"
#include "drivers/registry.hpp"

namespace {
const DriverDescriptor kNoDriver{};

// Until DRIVER selected one, the operations have no protocol to speak; the close is
// harmless, so that the clean-up at the end of any run can call it.
void RequireDriver(const DriverDescriptor& driver) {
    if (&driver != &kNoDriver) return;
    if (Run().unknownDriver[0])
        MsgExplain("The driver name '%s' given earlier matched no driver; --drvlist lists them.", Run().unknownDriver);
    MsgError("Use --driver switch to select driver.");
}
}  // namespace

const DriverDescriptor& NoDriver() { return kNoDriver; }

DriverSession& SessionOf(const DriverDescriptor& driver) {
    auto& sessions = Run().sessions;
    auto it = sessions.find(&driver);
    if (it == sessions.end()) it = sessions.emplace(&driver, DriverSession{driver.blockSize, driver.lengthMultiple}).first;
    return it->second;
}

bool DevOpenInterface(const DriverDescriptor& driver, const char* connection) {
    RequireDriver(driver);
    return SerialDriverOpen(driver, connection);
}

bool DevCloseInterface(const DriverDescriptor& driver, int) {
    if (&driver != &kNoDriver) SerialDriverClose(driver);
    return true;
}

bool DevConnect(const DriverDescriptor& driver, const char* key, char* info) {
    RequireDriver(driver);
    ConnectCall call;
    call.key = key ? key : "";
    call.options = DriverOptions();
    call.info = info;
    if (!SerialDriverConnect(driver, call)) return false;
    for (const ConnectCall::HandOver& next : call.handOvers) DriverHandOver(*next.driver, next.options.c_str());
    return true;
}

bool DevDisconnect(const DriverDescriptor& driver) {
    RequireDriver(driver);
    return driver.disconnect ? driver.disconnect() : true;
}

void RequireReading(const DriverDescriptor& driver, const char* what) {
    RequireDriver(driver);
    if (!driver.read || (driver.canRead && !driver.canRead()))
        MsgError("%sFunction %s not supported.", driver.tag, what);
}

void RequireUpdating(const DriverDescriptor& driver) {
    RequireDriver(driver);
    if (driver.memoryCrc && driver.sectors && driver.eraseSectors && !(driver.canRead && !driver.canRead())) return;
    if (*driver.updateHint) MsgExplain("%s", driver.updateHint);
    MsgError("%sFunction UPDATE not supported.", driver.tag);
}

bool DevRead(const DriverDescriptor& driver, uint32_t address, uint8_t* data, uint32_t length) {
    RequireReading(driver, "READ");
    return driver.read(address, data, length);
}

bool DevVerify(const DriverDescriptor& driver, uint32_t address, const uint8_t* data, uint32_t length,
               Difference& difference) {
    RequireReading(driver, "VERIFY");
    if (driver.verify) return driver.verify(address, data, length, difference);
    std::vector<uint8_t> target(length);
    if (!driver.read(address, target.data(), length)) MsgError("%sReading %08X failed.", driver.tag, address);
    return SameBytes(address, target.data(), data, length, difference);
}

bool SameBytes(uint32_t address, const uint8_t* target, const uint8_t* expected, uint32_t length,
               Difference& difference) {
    for (uint32_t i = 0; i < length; ++i) {
        if (target[i] != expected[i]) {
            difference = {address + i, target[i], expected[i]};
            return false;
        }
    }
    return true;
}

bool ParseSectorRange(const std::string& item, int32_t& first, int32_t& last) {
    const char* text = item.c_str();
    char* end = nullptr;
    first = static_cast<int32_t>(strtol(text, &end, 10));
    if (end == text) return false;
    last = first;
    if (*end == '-') {
        const char* second = end + 1;
        last = static_cast<int32_t>(strtol(second, &end, 10));
        if (end == second) return false;
    }
    return *end == '\0';
}

bool DevBlankCheck(const DriverDescriptor& driver, const char* sectors, BlankFinding& finding) {
    RequireDriver(driver);
    if (!driver.blankCheck || (driver.canRead && !driver.canRead()))
        MsgError("%sFunction BLANKCHECK not supported.", driver.tag);
    return driver.blankCheck(sectors, finding);
}

std::vector<std::string> DevDeviceInfo(const DriverDescriptor& driver, const CodeImage* image) {
    RequireDriver(driver);
    if (driver.deviceInfo) return driver.deviceInfo(image);
    char line[64];
    snprintf(line, sizeof line, "Block size: %d bytes", static_cast<int>(SessionOf(driver).blockSize));
    return {line};
}

bool DevErase(const DriverDescriptor& driver, const char* argument) {
    RequireDriver(driver);
    if (!driver.erase) MsgError("Function ERASE not supported.");
    return driver.erase(argument);
}

bool DevWrite(const DriverDescriptor& driver, const char* argument, uint32_t address, const uint8_t* data,
              uint32_t length) {
    RequireDriver(driver);
    if (!driver.write) MsgError("Function WRITE not supported.");
    return driver.write(argument, address, data, length);
}

bool DevUserPgmExec(const DriverDescriptor& driver, const char* argument) {
    RequireDriver(driver);
    // A target that starts its code by itself needs no start command.
    return driver.exec ? driver.exec(argument) : true;
}
