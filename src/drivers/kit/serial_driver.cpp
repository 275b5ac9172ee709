#include "drivers/kit/serial_driver.hpp"

#include <string>

#include "base/messages.hpp"
#include "drivers/driver.hpp"
#include "drivers/registry.hpp"
#include "serial/auto_search.hpp"
#include "serial/interface.hpp"
#include "serial/serial_port.hpp"

bool SerialDriverOpen(const DriverDescriptor& driver, const char* connection) {
    if (AutoSearchTake(connection)) return true;
    OpenInterfaceCom(connection);  // every failure ends the run
    if (driver.opened && ComIsOpen()) driver.opened();
    return true;
}

void SerialDriverClose(const DriverDescriptor& driver) {
    if (driver.closing) driver.closing();
    CloseInterfaceCom();
}

bool SerialDriverConnect(const DriverDescriptor& driver, const char* key, char* info) {
    if (driver.connecting) driver.connecting();
    if (AutoSearch().pending) {
        // A candidate's connect may select another driver to finish it (an application
        // that drops into a boot ROM): after a candidate that failed, the driver that was
        // current before is current again, with its options, for the next candidate.
        const DriverDescriptor& current = CurrentDriver();
        const std::string options = DriverOptions();
        AutoSearchOps ops;
        ops.open = [&driver](const char* connection) { return SerialDriverOpen(driver, connection); };
        ops.connect = [&driver](const char* k, char* i) { return SerialDriverConnect(driver, k, i); };
        ops.close = [&driver, &current, &options] {
            SerialDriverClose(driver);
            if (&CurrentDriver() != &current) DriverSelect(current, options.c_str());
        };
        return SerialAutoSearch(ops, key, info, driver.search);
    }
    // The connect loop calls again after a search that found nothing: the port was
    // closed, and the last candidate is tried again until the time-out ends.
    if (!ComIsOpen() && !AutoSearch().lastTried.empty()) {
        MsgPrint(MSG_DEBUG, "Reopen port for AUTO & contimeout");
        SerialDriverOpen(driver, AutoSearch().lastTried.c_str());
    }
    return driver.connect ? driver.connect(key, info) : true;
}
