// Run-wide connection settings shared by the commands and the drivers.
#pragma once

#include <cstdint>

// A connection string may hold a device path as long as a command line allows
// (/dev/serial/by-id/... names run to 80 characters and more).
constexpr unsigned kConnectionStringSize = 256;  // with the terminator
constexpr unsigned kConnectKeySize = 128;        // with the terminator

const char* ConnectionString();
void SetConnectionString(const char* text);  // cut to 255 characters

const char* ConnectKey();
void SetConnectKey(const char* text);        // cut to 17 characters (SECKEY)
void AppendConnectKey(const char* text);     // cut to the buffer (BOOTLDR)

int32_t ConnectTimeout();
void SetConnectTimeout(int32_t seconds);

// The argument of the running WRITE, ERASE item or EXEC (at most 63 characters).
constexpr unsigned kCommandArgumentSize = 64;
void SetCommandArgument(const char* text);
void ClearCommandArgument();
// The argument, or null when it is empty: what drivers read.
const char* CmdArgGet();
