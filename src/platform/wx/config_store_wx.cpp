#include <wx/config.h>
#include <wx/init.h>
#include <wx/log.h>

#include "platform/config_store.hpp"

namespace {
constexpr const char* kVendor = "Kestramon";
constexpr const char* kApplication = "Vorlo";

// The configuration classes find the user's directory through the application's
// traits; without an initialised library every access prints assertion failures on
// standard error. A console program has no application object of its own, so the
// library gets its default one, once, on first use.
void EnsureLibrary() { static wxInitializer library; }
}  // namespace

std::string ConfigReadText(const char* name) {
    EnsureLibrary();
    wxLogNull quiet;  // a missing or unreadable store reads as empty
    wxConfig config(kApplication, kVendor);
    wxString value;
    if (!config.Read(name, &value)) return "";
    return std::string(value.utf8_str());
}

bool ConfigWriteText(const char* name, const std::string& value) {
    EnsureLibrary();
    wxLogNull quiet;
    wxConfig config(kApplication, kVendor);
    bool ok = config.Write(name, wxString::FromUTF8(value.c_str()));
    return config.Flush() && ok;
}
