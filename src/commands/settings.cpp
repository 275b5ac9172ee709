#include "commands/settings.hpp"

#include <cstring>

#include "cli/text.hpp"

namespace {
char g_connectionString[kConnectionStringSize] = "COM1,9600,8,N,1";
char g_connectKey[kConnectKeySize] = "";
int32_t g_connectTimeout = 0;
constexpr size_t kSecKeyChars = 17;
}  // namespace

const char* ConnectionString() { return g_connectionString; }
void SetConnectionString(const char* text) {
    CopyCut(g_connectionString, sizeof g_connectionString, text, sizeof g_connectionString - 1);
}

const char* ConnectKey() { return g_connectKey; }
void SetConnectKey(const char* text) { CopyCut(g_connectKey, sizeof g_connectKey, text, kSecKeyChars); }
void AppendConnectKey(const char* text) {
    size_t used = strlen(g_connectKey);
    CopyCut(g_connectKey + used, sizeof g_connectKey - used, text, sizeof g_connectKey - 1 - used);
}

int32_t ConnectTimeout() { return g_connectTimeout; }
void SetConnectTimeout(int32_t seconds) { g_connectTimeout = seconds; }

namespace {
char g_commandArgument[kCommandArgumentSize] = "";
}  // namespace


void SetCommandArgument(const char* text) {
    CopyCut(g_commandArgument, sizeof g_commandArgument, text, sizeof g_commandArgument - 1);
}
void ClearCommandArgument() { g_commandArgument[0] = '\0'; }
const char* CmdArgGet() { return g_commandArgument[0] ? g_commandArgument : nullptr; }
