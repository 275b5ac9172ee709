// The per-user configuration store of vendor "Kestramon", application "Vorlo".
// On Linux a wxFileConfig: the file ~/.Vorlo ($HOME); on Windows the registry key
// HKEY_CURRENT_USER\Software\Kestramon\Vorlo.
#pragma once

#include <string>

// The text value of the given name; empty when there is none.
std::string ConfigReadText(const char* name);
// Stores the text value; false when the store could not be written.
bool ConfigWriteText(const char* name, const std::string& value);
