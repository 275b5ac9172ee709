// The configuration store of vendor "Kestramon", application "Vorlo": the registry key
// HKEY_CURRENT_USER\Software\Kestramon\Vorlo, text values.
#include "platform/config_store.hpp"

#include <windows.h>

#include <vector>

namespace {
constexpr const char* kKey = "Software\\Kestramon\\Vorlo";
}  // namespace

std::string ConfigReadText(const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return "";
    std::string text;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::vector<char> value(size + 1, '\0');
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) == ERROR_SUCCESS)
            text = value.data();  // the stored text may or may not carry its terminator
    }
    RegCloseKey(key);
    return text;
}

bool ConfigWriteText(const char* name, const std::string& value) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}
