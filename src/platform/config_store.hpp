// The per-user configuration store of vendor "Kestramon", application "Vorlo".
// On Linux a wxFileConfig: the file ~/.Vorlo ($HOME).
#pragma once

#include <string>

// The text value of the given name; empty when there is none.
std::string ConfigReadText(const char* name);
// Stores the text value; false when the store could not be written.
bool ConfigWriteText(const char* name, const std::string& value);
