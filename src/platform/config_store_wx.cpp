#include <wx/config.h>
#include <wx/log.h>

#include "platform/config_store.hpp"

namespace {
constexpr const char* kVendor = "Kestramon";
constexpr const char* kApplication = "Vorlo";
}  // namespace

std::string ConfigReadText(const char* name) {
    wxLogNull quiet;  // a missing or unreadable store reads as empty
    wxConfig config(kApplication, kVendor);
    wxString value;
    if (!config.Read(name, &value)) return "";
    return std::string(value.utf8_str());
}

bool ConfigWriteText(const char* name, const std::string& value) {
    wxLogNull quiet;
    wxConfig config(kApplication, kVendor);
    bool ok = config.Write(name, wxString::FromUTF8(value.c_str()));
    return config.Flush() && ok;
}
