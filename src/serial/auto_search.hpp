// The two-stage connection every serial driver shares: DevOpenInterface takes either a
// concrete connection string or an AUTO string ("AUTO", optionally a filter in
// parentheses, then the serial parameters: "AUTO(FTDI),115200,8,N,1"), and DevConnect
// runs, for an AUTO string, a search over the ports that starts with the port
// remembered from the last successful search.
//
// How a driver uses it (gen_iap.cpp as the example):
//
//   namespace {
//   SerialDriverState g_serial;
//   bool GenIapOpen(const char* connection);
//   bool GenIapClose(int);
//   bool GenIapConnect(const char* key, char* info);
//   const SerialDriverOps kOps = {GenIapOpen, GenIapConnect, GenIapClose};
//   }
//
//   bool GenIapOpen(const char* connection) { return SerialDriverOpen(g_serial, connection); }
//
//   bool GenIapClose(int) {
//       PgmEnLineDtrRtsSet(false);          // the driver's own line work first
//       SerialDriverClose(g_serial);         // closes the port when it is open
//       return true;
//   }
//
//   bool GenIapConnect(const char* key, char* info) {
//       PgmEnLineDtrRtsSet(true);
//       bool handled = false;
//       bool found = SerialDriverConnectPrologue(g_serial, kOps, key, info, handled);
//       if (handled) return found;           // the search ran (and called us per port)
//       ... the protocol's own connect on the open port ...
//   }
//
// The search calls the driver's own open and connect for every candidate; inside
// those calls the prologue finds no search pending and the port open, so the driver
// goes straight to its protocol. A driver whose search differs (MSP430BSL keeps
// retrying the first port) passes AutoSearchOptions.
#pragma once

#include <cstddef>

struct SerialDriverState {
    bool autoPending = false;
    char autoFilter[128] = "";   // text between "(" and ")" of the AUTO string
    char autoString[129] = "";   // the whole AUTO string
    char lastTried[129] = "";    // the concrete string of the last candidate opened
    bool portOpen = false;       // result of the last open with a concrete string
    char portName[33] = "";      // first token of the last concrete string
};

struct SerialDriverOps {
    bool (*open)(const char* connection);       // the driver's DevOpenInterface
    bool (*connect)(const char* key, char* info);  // the driver's DevConnect
    bool (*close)(int unused);                 // the driver's DevCloseInterface
};

struct AutoSearchOptions {
    // Keep opening and connecting a candidate until it answers or the connection
    // time-out (seconds, counted from the start of the search) has passed; an abort
    // request ends the search. Off: one attempt per candidate.
    bool retryUntilTimeout = false;
    // Print "Device found on port %s" at level 5 when a port answered.
    bool announceFound = false;
};

// The common DevOpenInterface. An AUTO string only marks the search pending (true);
// any other string is opened with OpenInterfaceCom.
bool SerialDriverOpen(SerialDriverState& state, const char* connection);

// First step of DevConnect. With a search pending it runs the search, sets handled and
// returns its result. Otherwise, when the port was closed after an AUTO search, it
// reopens the last candidate ("Reopen port for AUTO & contimeout") and returns with
// handled false: the driver then goes on with its own connect.
bool SerialDriverConnectPrologue(SerialDriverState& state, const SerialDriverOps& ops, const char* key, char* info,
                                 bool& handled, const AutoSearchOptions& options = {});

// The search itself (the prologue calls it when it is pending).
bool SerialAutoSearch(SerialDriverState& state, const SerialDriverOps& ops, const char* key, char* info,
                      const AutoSearchOptions& options = {});

// Closes the port when it is open and clears the port-open result.
void SerialDriverClose(SerialDriverState& state);
