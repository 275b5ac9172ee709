// What every serial driver shares: its AUTO bookkeeping and the recipe for the open,
// the close and the first step of the connect. A driver holds one SerialDriver and
// hands it its own operations, which the AUTO search calls for every candidate port:
//
//   namespace {
//   bool MyOpen(const char* connection);
//   bool MyConnect(const char* key, char* info);
//   bool MyClose(int);
//   SerialDriver g_serial({MyOpen, MyConnect, MyClose});
//
//   bool MyOpen(const char* connection) { return g_serial.Open(connection); }
//   bool MyClose(int) {
//       ...the driver's own line work first...
//       g_serial.Close();
//       return true;
//   }
//   bool MyConnect(const char* key, char* info) {
//       bool found = false;
//       if (g_serial.ConnectHandled(key, info, found)) return found;  // the search ran
//       ...the protocol's own connect on the open port...
//   }
//   }
//
// Inside the search's calls the prologue finds no search pending and the port open,
// so the driver goes straight to its protocol.
#pragma once

#include <string>

#include "serial/auto_search.hpp"

class SerialDriver {
public:
    explicit SerialDriver(AutoSearchOps ops, AutoSearchOptions options = {}) : ops_(ops), options_(options) {}

    // The common DevOpenInterface. An AUTO string only marks the search pending (true);
    // any other string is opened and configured (failures end the run).
    bool Open(const char* connection);
    // Closes the port when one is open.
    void Close();
    // The first step of DevConnect. With a search pending it runs the search and
    // returns true, its outcome in `found`. Otherwise, when the port was closed after an
    // AUTO search, it reopens the last candidate ("Reopen port for AUTO & contimeout"),
    // and returns false: the driver goes on with its own connect.
    bool ConnectHandled(const char* key, char* info, bool& found);

    // The first token of the last concrete connection string.
    const std::string& PortName() const { return portName_; }
    const AutoSearchState& Auto() const { return auto_; }

private:
    AutoSearchOps ops_;
    AutoSearchOptions options_;
    AutoSearchState auto_;
    std::string portName_;
};
