#include "context/run_context.hpp"

#include <cstring>

#include "base/text.hpp"

namespace {
constexpr size_t kSecKeyChars = 17;
// The one run: every command, driver and port search of the process works on it.
RunContext g_run;
}  // namespace

RunContext& Run() { return g_run; }

const char* ConnectionString() { return g_run.connection; }
void SetConnectionString(const char* text) { CopyCut(g_run.connection, sizeof g_run.connection, text); }

const char* ConnectKey() { return g_run.connectKey; }
void SetConnectKey(const char* text) { CopyCut(g_run.connectKey, sizeof g_run.connectKey, text, kSecKeyChars); }
void AppendConnectKey(const char* text) {
    size_t used = strlen(g_run.connectKey);
    CopyCut(g_run.connectKey + used, sizeof g_run.connectKey - used, text);
}

int32_t ConnectTimeout() { return g_run.connectTimeout; }
void SetConnectTimeout(int32_t seconds) { g_run.connectTimeout = seconds; }

void SetCommandArgument(const char* text) { CopyCut(g_run.commandArgument, sizeof g_run.commandArgument, text); }
void ClearCommandArgument() { g_run.commandArgument[0] = '\0'; }
const char* CmdArgGet() { return g_run.commandArgument[0] ? g_run.commandArgument : nullptr; }

const char* DriverOptions() { return g_run.driverOptions; }
void SetDriverOptions(const char* text) { CopyCut(g_run.driverOptions, sizeof g_run.driverOptions, text ? text : ""); }
