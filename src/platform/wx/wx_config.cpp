// The configuration store through wxConfig (a wxFileConfig on Linux: ~/.Vorlo).
#include <wx/config.h>
#include <wx/init.h>
#include <wx/log.h>

#include "platform/wx/wx_module.hpp"

namespace {
constexpr const char* kVendor = "Kestramon";
constexpr const char* kApplication = "Vorlo";

// The configuration classes find the user's directory through the application's
// traits; without an initialised library every access prints assertion failures on
// standard error. A console program has no application object of its own, so the
// library gets its default one, once, on first use.
void EnsureLibrary() { static wxInitializer library; }
}  // namespace

extern "C" int vorlo_wx_config_read(const char* name, void (*found)(void*, const char*), void* context) {
    EnsureLibrary();
    wxLogNull quiet;  // a missing or unreadable store reads as empty
    wxConfig config(kApplication, kVendor);
    wxString value;
    if (!config.Read(name, &value)) return 0;
    found(context, value.utf8_str());
    return 1;
}

extern "C" int vorlo_wx_config_write(const char* name, const char* text) {
    EnsureLibrary();
    wxLogNull quiet;
    wxConfig config(kApplication, kVendor);
    bool ok = config.Write(name, wxString::FromUTF8(text));
    return config.Flush() && ok ? 1 : 0;
}
