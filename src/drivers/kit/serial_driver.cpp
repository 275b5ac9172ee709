#include "drivers/kit/serial_driver.hpp"

#include "base/messages.hpp"
#include "base/run_flags.hpp"
#include "drivers/driver.hpp"
#include "platform/process.hpp"
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

bool SerialDriverConnect(const DriverDescriptor& driver, ConnectCall& call) {
    if (driver.connecting) driver.connecting();
    if (AutoSearch().pending) {
        // Every candidate gets the same call; a candidate that failed leaves nothing in it.
        AutoSearchOps ops;
        ops.open = [&driver](const char* connection) { return SerialDriverOpen(driver, connection); };
        ops.connect = [&driver, &call](const char* key, char* info) {
            ConnectCall candidate = call;
            candidate.key = key;
            candidate.info = info;
            if (!SerialDriverConnect(driver, candidate)) return false;
            call = candidate;
            return true;
        };
        ops.close = [&driver] { SerialDriverClose(driver); };
        return SerialAutoSearch(ops, call.key, call.info, driver.search);
    }
    // The connect loop calls again after a search that found nothing: the port was
    // closed, and the last candidate is tried again until the time-out ends.
    if (!ComIsOpen() && !AutoSearch().lastTried.empty()) {
        MsgPrint(MSG_DEBUG, "Reopen port for AUTO & contimeout");
        SerialDriverOpen(driver, AutoSearch().lastTried.c_str());
    }
    return driver.connect ? driver.connect(call) : true;
}

bool ConnectWait(const std::function<bool()>& attempt, int32_t timeoutS,
                 const std::function<void(int64_t remainingMs)>& waiting) {
    const uint32_t start = TickCountMs();
    const int64_t limit = static_cast<int64_t>(timeoutS > 0 ? timeoutS : 0) * 1000;
    for (;;) {
        if (attempt()) return true;
        const uint32_t elapsed = TickCountMs() - start;
        const int64_t remaining = elapsed < limit ? limit - elapsed : 0;
        if (waiting) waiting(remaining);
        if (g_flags.abort || remaining == 0) return false;
    }
}
